; The fast loader: the computer's side of the fast tape (tape/tape_fast.h).
;
; The KERNAL's LOAD brings it in as an ordinary program file. The header
; block's spare bytes carry the body to $0351-$03FB, where the tape buffer
; keeps them; the data block carries the boot to $02A7-$0303, over BASIC's
; vectors at $0300-$0303. BASIC, back at its prompt after the LOAD, jumps
; through $0302 and so lands on `boot`, the first byte of the data block.
;
; From there it reads one program in the turbo format that the encoder
; writes. Every block is a pilot of $02 bytes, the countdown $09..$01 and its
; bytes, each most significant bit first, a short pulse (208 cycles) for a 0
; and a long one (320 cycles) for a 1. The header block is ID $01 (BASIC) or
; $02 (any other), the start address, the end address (exclusive), and bytes
; it has no use for, 192 in all; the data block is ID $00, the program's
; bytes and their XOR.
;
; While it reads, interrupts are off, the screen is blank and nothing in ROM
; is called. Then it leaves what a LOAD leaves and ends in BASIC: RUN for a
; BASIC program, READY. for any other, ?LOAD ERROR when the XOR does not
; hold. The three ROM entries it jumps to are tape_fast_exit_* in
; tape/tape_fast.h; keep them alike.
;
; The tape must run on: the loader waits for pulses as long as none come.

        .setcpu "6502"

; The machine.
port            = $01   ; processor port: bit 5 switches the cassette motor, 0 = on
vic_control     = $D011 ; bit 4: the display; off, the video chip takes no cycles
cia1_icr        = $DC0D ; bit 4 (FLAG): an edge on the cassette read line, one per pulse
cia2_latch      = $DD04 ; timer A's start value, low and high byte
cia2_icr        = $DD0D ; bit 0: timer A ran out; a write with bit 7 clear clears mask bits
cia2_cra        = $DD0E ; timer A's control
motor_lock      = $C0   ; not 0: the KERNAL's interrupt leaves the motor alone

; BASIC.
vartab          = $2D   ; start of variables: a LOAD leaves the end address here
imain           = $0302 ; the prompt's vector, which brought the boot here
basic_main      = $A483 ; what it holds otherwise
basic_handler   = $E38B ; what the error vector at $0300 holds
basic_error     = $A437 ; prints error X, then READY.
basic_ready     = $A474 ; prints READY. and waits at the prompt
basic_run       = $A871 ; the RUN statement: with Z set, from the program's start
basic_newstt    = $A7AE ; the interpreter's statement loop, where RUN returns to
error_load      = $1D   ; the number of ?LOAD ERROR

; Zero page: the KERNAL's tape workspace, free once its LOAD is over.
sal             = $AC   ; where the next byte goes, from the start address on
eal             = $AE   ; the end address, where a LOAD leaves it
shift           = $A7   ; the byte coming in, bit by bit
sum             = $A8   ; the XOR of the bytes so far
kind            = $A9   ; 0 for a BASIC program, 1 for any other

; A pulse reads long when the timer, started at the edge before it, has run
; out by the edge after it. The timer starts 14 cycles after the wait in
; read_bit sees an edge, runs out about 3 cycles after counting down from
; the latch, and its flag is read 8 cycles after the next edge is seen: a
; pulse reads long from about threshold + 9 cycles, give or take the 9 cycles
; of the wait. The device times the pulses in seconds after the tape's PAL
; clock: 208 and 320 cycles on a PAL machine, 216 and 332 on an NTSC one.
; 268 cycles lies in the middle of 216..320, 52 cycles from the nearest
; pulse on either machine.
threshold       = 268 - 9

pilot           = $02   ; the pilot's byte
countdown       = $09   ; the first byte of the countdown to $01
header_size     = 192   ; the header block's bytes after the countdown

        .segment "BOOT"

boot:   sei                     ; the first byte: no header starts with it
        lda vic_control
        and #%11101111          ; screen off: no bad lines to stretch a pulse
        sta vic_control
        lda port
        and #%00011111          ; motor on
        sta port
        lda #%01111111          ; no timer of CIA2 may raise an NMI
        sta cia2_icr
        lda #<threshold
        sta cia2_latch
        lda #>threshold
        sta cia2_latch+1
        jmp load

; Waits for the next edge; carry = 1 when the pulse that it ends was long.
; Changes A and X.
read_bit:
        lda cia1_icr
        and #%00010000
        beq read_bit
        ldx cia2_icr            ; bit 0: the threshold passed since the last edge
        lda #%00011001          ; timer A again from the latch, once: start, one-shot, load
        sta cia2_cra
        txa
        lsr a
        rts

; Reads a byte, most significant bit first, into A and `shift`. Changes X.
read_byte:
        lda #1                  ; a marker: when it falls out at the top, 8 bits are in
        sta shift
@bit:   jsr read_bit
        rol shift
        bcc @bit
        lda shift
        rts

        .segment "VECTORS"

        .word basic_handler     ; the error vector as it was
        .word boot              ; the prompt's vector, for this once

        .segment "BODY"

; Finds a block: bit by bit to the first pilot byte, then byte by byte past
; the pilot and down the countdown. Returns the block's ID in A and X, with
; Z set by it. Changes Y.
find_block:
        jsr read_bit
        rol shift
        lda shift
        cmp #pilot
        bne find_block
@pilot: jsr read_byte
        cmp #pilot
        beq @pilot
        ldy #countdown
@count: cpy shift               ; not the countdown: look again
        bne find_block
        jsr read_byte
        dey
        bne @count
        tax
        rts

; The header: the kind of program and its addresses.
load:   jsr find_block
        dex                     ; ID 1 or 2 to kind 0 or 1
        cpx #2
        bcs load                ; a data block or noise: look on
        stx kind
        ldy #0
@field: jsr read_byte           ; the start and end address to sal and eal
        cpy #4
        bcs @skip
        sta a:sal,y
@skip:  iny
        cpy #header_size - 1
        bne @field

; The data, byte by byte from the start address up to the end address.
@data:  jsr find_block
        bne @data
        ldy #0
        sty sum
@byte:  jsr read_byte
        sta (sal),y
        eor sum
        sta sum
        inc sal
        bne @next
        inc sal+1
@next:  lda sal
        cmp eal
        bne @byte
        lda sal+1
        cmp eal+1
        bne @byte
        jsr read_byte           ; the XOR as it was written
        eor sum                 ; 0 when every byte came in right
        tax

; What a LOAD leaves: the screen on, the motor off, BASIC's prompt vector as
; it was, and the end address in eal and vartab.
        lda vic_control
        ora #%00010000
        sta vic_control
        lda port
        ora #%00100000
        sta port
        sta motor_lock          ; off until the tape's keys are let go
        lda #<basic_main
        sta imain
        lda #>basic_main
        sta imain+1
        lda eal
        sta vartab
        lda eal+1
        sta vartab+1

; Then BASIC, with interrupts on from the jump on.
        txa
        bne @error
        lda kind
        bne @ready
        lda #>(basic_newstt - 1) ; RUN returns into the statement loop,
        pha                     ; as from a line that held RUN alone
        lda #<(basic_newstt - 1)
        pha
        lda #0                  ; nothing after RUN
        cli
        jmp basic_run
@ready: cli
        jmp basic_ready
@error: ldx #error_load
        cli
        jmp basic_error
