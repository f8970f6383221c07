"""Unsigned Windows catalogs (a certificate trust list in PKCS #7 SignedData), ready for
osslsigncode to sign. Each member carries its digest (SPC_INDIRECT_DATA), the member info
Windows needs to list it, and a "File" name-value with its path relative to the catalog."""
import datetime
import hashlib

from der import (bmp_string, explicit, integer, null, octet_string, oid, sequence, set_of, utc_time)

OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_CTL = "1.3.6.1.4.1.311.10.1"
OID_CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
OID_CATALOG_MEMBER_LIST = "1.3.6.1.4.1.311.12.1.2"
OID_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
OID_CAB_DATA = "1.3.6.1.4.1.311.2.1.25"
OID_MEMBER_INFO = "1.3.6.1.4.1.311.12.2.2"
OID_NAME_VALUE = "1.3.6.1.4.1.311.12.2.1"
OID_SHA1 = "1.3.14.3.2.26"
OID_SHA256 = "2.16.840.1.101.3.4.2.1"

# Subject interface packages Windows records for PE images and for flat files.
SIP_PE = "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}"
SIP_FLAT = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}"
NAME_VALUE_FLAGS = 0x10010001


class Member:
    def __init__(self, file_name: str, digest: bytes, is_pe: bool, algorithm: str = "sha256",
                 tag_terminator: bool = True, has_file_name: bool = True):
        self.file_name = file_name  # relative to the catalog's folder, backslashes
        self.digest = digest
        self.is_pe = is_pe
        self.algorithm = algorithm
        # Windows' catalog tools store the tag with its terminating NUL; without it is the
        # form some other tools write.
        self.tag_terminator = tag_terminator
        self.has_file_name = has_file_name


def _attribute(type_oid: str, value: bytes) -> bytes:
    return sequence(oid(type_oid), set_of(value))


def _member(member: Member) -> bytes:
    digest_oid = OID_SHA256 if member.algorithm == "sha256" else OID_SHA1
    data_oid = OID_PE_IMAGE_DATA if member.is_pe else OID_CAB_DATA
    # As Windows writes them: PE images carry SpcPeImageData (no flags, an empty file link),
    # flat files an empty SpcLink.
    empty_link = bytes.fromhex("a2028000")
    data_value = sequence(bytes.fromhex("030100"), explicit(0, empty_link)) if member.is_pe else empty_link
    indirect = sequence(
        sequence(oid(data_oid), data_value),
        sequence(sequence(oid(digest_oid), null()), octet_string(member.digest)))
    member_info = sequence(bmp_string(SIP_PE if member.is_pe else SIP_FLAT), integer(512))
    name = (member.file_name + "\0").encode("utf-16-le")
    name_value = sequence(bmp_string("File"), integer(NAME_VALUE_FLAGS), octet_string(name))
    tag = (member.digest.hex().upper() + ("\0" if member.tag_terminator else "")).encode("utf-16-le")
    attributes = set_of(
        *([_attribute(OID_NAME_VALUE, name_value)] if member.has_file_name else []),
        _attribute(OID_MEMBER_INFO, member_info),
        _attribute(OID_INDIRECT_DATA, indirect))
    return sequence(octet_string(tag), attributes)


def build_unsigned_catalog(members, when: datetime.datetime = None) -> bytes:
    when = when or datetime.datetime.now(datetime.timezone.utc)
    identifier = hashlib.md5(b"".join(m.digest for m in members)).digest()
    ctl = sequence(
        sequence(oid(OID_CATALOG_LIST)),
        octet_string(identifier),
        utc_time(when.strftime("%y%m%d%H%M%SZ")),
        sequence(oid(OID_CATALOG_MEMBER_LIST), null()),
        sequence(*[_member(m) for m in members]))
    signed_data = sequence(
        integer(1),
        set_of(),
        sequence(oid(OID_CTL), explicit(0, ctl)),
        set_of())
    return sequence(oid(OID_SIGNED_DATA), explicit(0, signed_data))
