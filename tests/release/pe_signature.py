#!/usr/bin/python3
"""What signing may change in a PE file, and a tampered copy.

  pe_signature.py only-signature UNSIGNED SIGNED
      Passes when SIGNED is UNSIGNED byte for byte except the header's
      checksum and certificate table entry, followed by zero padding to
      8 bytes and the certificate table that entry names, ending the file.
      Everything else (code, version block, resources, payload) is compared.
  pe_signature.py flip-payload-byte SIGNED PAYLOAD-FILE OUT
      Writes OUT: SIGNED with one bit changed in the middle of the place
      where PAYLOAD-FILE's bytes lie inside it.
"""
import struct
import sys


def header_fields(data):
    """Offsets of the checksum and of the certificate table's entry."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE file")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    return optional + 64, directories + 4 * 8  # checksum; entry 4 (security)


def only_signature(unsigned, signed):
    checksum, entry = header_fields(unsigned)
    if unsigned[entry:entry + 8] != bytes(8):
        sys.exit("the unsigned file already has a certificate table")
    table, size = struct.unpack_from("<II", signed, entry)
    end = len(unsigned)
    aligned = (end + 7) & ~7
    problems = []
    if table != aligned or table + size != len(signed) or size == 0:
        problems.append(f"certificate table at {table}, {size} bytes, in a file of {len(signed)}: "
                        f"expected it at {aligned}, up to the end")
    if signed[end:aligned] != bytes(aligned - end):
        problems.append("padding before the certificate table is not zero")
    def masked(data):
        kept = bytearray(data[:end])
        kept[checksum:checksum + 4] = bytes(4)
        kept[entry:entry + 8] = bytes(8)
        return kept

    before, after = masked(unsigned), masked(signed)
    if before != after:
        changed = [i for i, (a, b) in enumerate(zip(before, after)) if a != b]
        problems.append(f"{len(changed)} bytes changed outside the signature, first at {changed[:5]}")
    if problems:
        sys.exit("; ".join(problems))
    print(f"only the signature: {end} bytes as they were but the checksum and the table entry; "
          f"certificate table of {size} bytes at {table}")


def flip_payload_byte(signed, payload, out):
    at = signed.find(payload)
    if at < 0 or len(payload) < 2:
        sys.exit("the payload file is not inside the program")
    tampered = bytearray(signed)
    tampered[at + len(payload) // 2] ^= 0x01
    with open(out, "wb") as f:
        f.write(tampered)
    print(f"changed byte {at + len(payload) // 2} (payload file at {at}, {len(payload)} bytes)")


def read(path):
    with open(path, "rb") as f:
        return f.read()


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "only-signature":
        only_signature(read(sys.argv[2]), read(sys.argv[3]))
    elif len(sys.argv) == 5 and sys.argv[1] == "flip-payload-byte":
        flip_payload_byte(read(sys.argv[2]), read(sys.argv[3]), sys.argv[4])
    else:
        sys.exit(__doc__)
