/* The packed network linked into the program: u32 inflated size, u32 zlib
   length, zlib data. QUORIX_NETWORK_BLOB names the file (set by the build). */
#ifndef QUORIX_NETWORK_BLOB
#error "QUORIX_NETWORK_BLOB must name the packed network file"
#endif

        .section .rodata
        .balign 64
        .globl quorix_embedded_network
        .type quorix_embedded_network, @object
quorix_embedded_network:
        .incbin QUORIX_NETWORK_BLOB
        .globl quorix_embedded_network_end
quorix_embedded_network_end:
        .byte 0

        .section .note.GNU-stack,"",@progbits
