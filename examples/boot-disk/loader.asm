; The loader: BOOT\LOADER.BIN, loaded by the boot sector at 0x0800:0000.
; It is on the disk before the tools run, so it knows nothing of where
; anything lies: the boot sector hands it the drive in DL and the first
; sector of the table in AX. The table (written by tablepatch) is a run of
; 4-byte records, (sector count, first sector), ended by a record of zeros.
; For each record it loads the file by its first sector and count, and
; writes one line to the debug console:
;     FILE nnnn SECTOR ssss COUNT cccc SUM xxxxxxxx
; in hexadecimal, SUM being sum = sum * 31 + byte over every byte read (the
; file and the zeros after it to the end of its last sector). Then it ends
; qemu with EXITOK; a bad table or a read error ends it with EXITFAIL.
bits 16
cpu 386                          ; for the 32-bit checksum in EAX
org 0

TABLESEG equ 0x1000              ; the table's sector goes to linear 0x10000
FILESEG  equ 0x2000              ; each file is loaded from linear 0x20000 on
MOSTSECTORS equ 1000             ; what fits below the BIOS data at 0x9FC00
RECORDS  equ 512 / 4             ; one sector of table holds 128 records

%ifndef BUILD
%define BUILD 1                  ; which build of the loader this is (0 to 9)
%endif

entry:
    mov bx, cs                  ; our data lies in our own segment
    mov ds, bx
    mov [drive], dl
    push ax
    mov si, tbuild              ; "LOADER BUILD n": which loader booted
    call putstring
    pop ax
    mov bx, TABLESEG
    mov es, bx
    call readsector             ; AX = the table's sector, to TABLESEG:0000
    xor si, si                  ; SI: offset of the record in the table
    mov word [number], 1
.record:
    cmp si, RECORDS * 4
    jae badtable                ; no record of zeros in the sector
    mov bx, TABLESEG
    mov es, bx
    mov cx, [es:si]             ; CX = sector count
    mov ax, [es:si + 2]         ; AX = first sector
    mov dx, cx
    or dx, ax
    jz finished                 ; (0, 0): the end of the table
    jcxz badtable               ; a file of no sectors, or
    test ax, ax
    jz badtable                 ; at sector 0 (the boot sector): not a file
    cmp cx, MOSTSECTORS
    ja badtable
    call loadfile               ; EAX = checksum
    call putline
    add si, 4
    inc word [number]
    jmp .record

finished:
    mov al, EXITOK
    out EXITPORT, al
    cli
    hlt

badtable:
    mov si, tablefailed
    call putstring
    mov al, EXITFAIL
    out EXITPORT, al
    cli
    hlt

; loadfile: loads CX sectors from logical sector AX on, to FILESEG:0000 and
; up, and returns in EAX the checksum of every byte loaded. Keeps AX, CX, SI
; in [first], [count] for the line.
loadfile:
    mov [first], ax
    mov [count], cx
    push si
    xor edx, edx                ; EDX: the checksum so far
    mov bx, FILESEG
.sector:
    mov es, bx
    call readsector             ; sector AX to ES:0000
    push cx
    xor di, di
    mov cx, 512
.byte:
    imul edx, edx, 31           ; sum = sum * 31 + byte, modulo 2^32
    movzx ebp, byte [es:di]
    add edx, ebp
    inc di
    loop .byte
    pop cx
    inc ax
    add bx, 512 / 16            ; the next sector's place, one segment step on
    loop .sector
    mov eax, edx
    pop si
    ret

; putline: writes "FILE nnnn SECTOR ssss COUNT cccc SUM xxxxxxxx" and a line
; break, the checksum being EAX.
putline:
    push eax
    push si
    mov si, tfile
    call putstring
    mov ax, [number]
    call puthex16
    mov si, tsector
    call putstring
    mov ax, [first]
    call puthex16
    mov si, tcount
    call putstring
    mov ax, [count]
    call puthex16
    mov si, tsum
    call putstring
    pop si
    pop eax
    push eax
    shr eax, 16                 ; the high half first
    call puthex16
    pop eax
    call puthex16
    mov al, 10
    out DEBUGPORT, al
    ret

; puthex16: writes AX as four hexadecimal digits, the highest first.
puthex16:
    push ax
    push bx
    push cx
    mov bx, ax
    mov cx, 4
.digit:
    rol bx, 4                   ; the next digit into the low four bits
    mov al, bl
    and al, 0x0F
    add al, '0'
    cmp al, '9'
    jbe .out
    add al, 'A' - '9' - 1       ; 10 to 15 as A to F
.out:
    out DEBUGPORT, al
    loop .digit
    pop cx
    pop bx
    pop ax
    ret

%include "disk.inc"

tfile:       db "FILE ", 0
tsector:     db " SECTOR ", 0
tcount:      db " COUNT ", 0
tsum:        db " SUM ", 0
tablefailed: db "bad table", 10, 0
tbuild:      db "LOADER BUILD ", '0' + BUILD, 10, 0
drive:  db 0
number: dw 0
first:  dw 0
count:  dw 0
