/* Embeds the packed bundle archive; the path comes from the build. */
    .section .rodata
    .global kx5_bundle_zip_begin
    .global kx5_bundle_zip_end
    .balign 16
kx5_bundle_zip_begin:
    .incbin KX5_BUNDLE_ZIP
kx5_bundle_zip_end:
    .byte 0
    .section .note.GNU-stack,"",%progbits
