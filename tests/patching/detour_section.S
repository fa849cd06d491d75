// The test program's own ".detour" section, laid out as a launcher writes it:
// a 64-byte header whose data offset is left 0 (meaning "right after the
// header"), then three payload records. The last one is a slot that the
// launch-restore tests fill in at run time (its identifier stays zero until
// then). Identifiers and contents are mirrored in test_payloads.h.
    .section .detour,"dw"
    .p2align 2

    .globl _test_payload_header
_test_payload_header:
    .long 64                                  // header size
    .long 0x00727444                          // signature "Dtr"
    .long 0                                   // data offset: the header size
    .long records_end - _test_payload_header  // data end
    .fill 48, 1, 0

    .globl _test_record_text
_test_record_text:
    .long text_end - _test_record_text
    .long 0
    .long 0x6B1D7A10
    .short 0x2C3E, 0x4F51
    .byte 0x9A, 0x0B, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66
    .ascii "payload text"
text_end:

    .globl _test_record_empty
_test_record_empty:
    .long 24
    .long 0
    .long 0x6B1D7A11
    .short 0x2C3E, 0x4F51
    .byte 0x9A, 0x0B, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66

    .globl _test_restore_slot
_test_restore_slot:
    .long 24 + 1664
    .long 0
    .fill 16, 1, 0
    .fill 1664, 1, 0
records_end:
