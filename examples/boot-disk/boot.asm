; The boot sector program. The BIOS loads the volume's first sector at
; 0x7C00 and jumps there; mkfs.fat's jump at byte 0 skips the BIOS parameter
; block and lands at byte 62, where imgplace puts this code: so it runs at
; 0x7C00 + 62 = 0x7C3E. It has the 448 bytes from 62 to 509 (the signature
; 0x55AA stays at 510). It loads the loader, whose first sector sectdefs
; found and whose length sectmap measured, and hands it the table's sector.
bits 16
org 0x7C3E

%include "defs.inc"             ; sectdefs: LOADER_START, TABLE_START
%include "counts.inc"           ; from sectmap: LOADER_SECTORS

LOADERSEG equ 0x0800            ; the loader runs at 0x0800:0000, linear 0x8000

start:
    ; A BIOS may enter with CS:IP = 07C0:003E or 0000:7C3E; a far jump makes
    ; it 0000:main, which is what "org" assumes.
    jmp 0:main
main:
    cli                         ; no interrupt while the stack moves
    xor ax, ax
    mov ds, ax
    mov es, ax
    mov ss, ax
    mov sp, 0x7C00              ; the stack grows down from below this sector
    sti
    cld
    mov [drive], dl             ; the BIOS hands over its boot drive in DL

    mov si, hello
    call putstring
    mov ax, LOADER_START        ; first logical sector of BOOT\LOADER.BIN
    mov cx, LOADER_SECTORS      ; how many sectors it fills
    mov bx, LOADERSEG
.load:
    mov es, bx
    call readsector             ; sector AX to ES:0000
    inc ax
    add bx, 512 / 16            ; a segment counts 16 bytes: the next 512
    loop .load                  ; CX - 1, again while not 0

    ; The loader was assembled before the disk existed, so it learns where
    ; the table is from here: AX = its first sector, DL = the drive.
    mov ax, TABLE_START
    mov dl, [drive]
    jmp LOADERSEG:0

%include "disk.inc"

hello: db "boot: loading the loader", 10, 0
drive: db 0
    times PADDING db 0          ; 0 here; the build's check of the room is tried with more
