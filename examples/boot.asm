; Boot code for the example disk. It goes into the boot sector behind the
; FAT parameter block (volume byte 62), so the volume stays a valid FAT12
; volume. It knows where the loader and the file table start only through
; defs.inc, which sectdefs writes from the finished image.
        bits 16
        cpu 8086

%include "defs.inc"

start:  cli
        xor ax, ax
        mov ds, ax
        mov ss, ax
        mov sp, 0x7c00
        sti
        ; A real loader would read the sectors below through the disk BIOS
        ; and jump to the loader; this one keeps them where a debugger sees
        ; them and halts.
        mov ax, LOADER_START
        mov bx, TABLE_START
        mov cx, KERNEL_START
halt:   hlt
        jmp halt

; The first sectors of the files the loader needs, for anyone reading the
; boot sector; the order matches the file table's records.
sectors:
        dw LOADER_START
        dw TABLE_START
        dw KERNEL_START
        dw FONT_START
        dw SOUND_START
        db "DCPBOOT", 0
