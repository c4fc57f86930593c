# Writes FILE's SHA-256 beside it, as FILE.sha256 in sha256sum's format
# ("<hash>  <name>"), so that `sha256sum -c` in that folder checks it, and
# prints the same line.
#   cmake -DFILE=<file> -P write_sha256.cmake
file(SHA256 "${FILE}" hash)
get_filename_component(name "${FILE}" NAME)
file(WRITE "${FILE}.sha256" "${hash}  ${name}\n")
message(STATUS "SHA-256: ${hash}  ${name}")
