# Copies the kernel into the bundle's resources and writes its checksum beside it as
# "<sha256>  mihomo", the line the application's integrity check reads.
file(COPY_FILE "${SOURCE}" "${DESTINATION}")
file(CHMOD "${DESTINATION}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
file(SHA256 "${DESTINATION}" digest)
file(WRITE "${DESTINATION}.sha256" "${digest}  mihomo\n")
