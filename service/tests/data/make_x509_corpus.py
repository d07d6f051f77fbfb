#!/usr/bin/env python3
"""Writes the corpus of unusual certificates into fuzz_x509_certificate/: each file is one certificate (or
what is left of one) that decoding and rendering must survive: bad and odd times, huge object
identifiers, odd names, malformed extension values, odd serial numbers, BER forms and cuts.
Signatures are not valid; nothing here is verified. Run from this folder:
    python3 make_x509_corpus.py
"""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_x509_certificate")


def length(n):
    if n < 0x80:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def tlv(tag, content):
    return bytes([tag]) + length(len(content)) + content


def seq(*items):
    return tlv(0x30, b"".join(items))


def set_(*items):
    return tlv(0x31, b"".join(items))


def ctx(n, content, constructed=True):
    return tlv((0xA0 if constructed else 0x80) | n, content)


def integer(value):
    if isinstance(value, bytes):
        return tlv(0x02, value)
    n = max(1, (value.bit_length() + 8) // 8)
    return tlv(0x02, value.to_bytes(n, "big", signed=True))


def arc(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def oid(text):
    arcs = [int(a) for a in text.split(".")]
    return tlv(0x06, arc(arcs[0] * 40 + arcs[1]) + b"".join(arc(a) for a in arcs[2:]))


def octets(b):
    return tlv(0x04, b)


def bits(b, unused=0):
    return tlv(0x03, bytes([unused]) + b)


def utf8(s):
    return tlv(0x0C, s.encode("utf-8"))


def printable(s):
    return tlv(0x13, s.encode("ascii"))


def ia5(s):
    return tlv(0x16, s.encode("ascii"))


def bmp(s):
    return tlv(0x1E, s.encode("utf-16-be"))


def utc(s):
    return tlv(0x17, s.encode("ascii"))


def gen(s):
    return tlv(0x18, s.encode("ascii"))


NULL = b"\x05\x00"
TRUE = b"\x01\x01\xff"
SHA256_RSA = seq(oid("1.2.840.113549.1.1.11"), NULL)
RSA = seq(oid("1.2.840.113549.1.1.1"), NULL)
# A small RSA public key (n = 3233, e = 17): enough for parsing.
SPKI = seq(RSA, bits(seq(integer(3233), integer(17))))


def atv(type_oid, value):
    return seq(oid(type_oid), value)


def name(*rdns):
    return seq(*[set_(*rdn) for rdn in rdns])


NAME = name([atv("2.5.4.6", printable("KR"))], [atv("2.5.4.10", utf8("Test"))],
            [atv("2.5.4.3", utf8("Corpus"))])


def ext(ext_oid, value, critical=False):
    return seq(oid(ext_oid), TRUE if critical else b"", octets(value))


def cert(version=2, serial=1, sigalg=SHA256_RSA, issuer=NAME, not_before=None, not_after=None,
         subject=NAME, spki=SPKI, extensions=None, raw_validity=None, outer_alg=None,
         signature=bits(b"\x01\x02\x03\x04")):
    tbs = b""
    if version is not None:
        tbs += ctx(0, integer(version))
    tbs += serial if isinstance(serial, bytes) else integer(serial)
    tbs += sigalg + issuer
    if raw_validity is not None:
        tbs += raw_validity
    else:
        tbs += seq(not_before or utc("240301000000Z"), not_after or utc("250301000000Z"))
    tbs += subject + spki
    if extensions is not None:
        tbs += ctx(3, seq(*extensions))
    return seq(seq(tbs), outer_alg or sigalg, signature)


def bc(ca=True, pathlen=None):
    return seq(TRUE if ca else b"", integer(pathlen) if pathlen is not None else b"")


def policies(*infos):
    return seq(*infos)


def policy(policy_oid, *qualifiers):
    return seq(oid(policy_oid), seq(*qualifiers) if qualifiers else b"")


def notice(text_tlv):
    return seq(oid("1.3.6.1.5.5.7.2.2"), seq(text_tlv))


def identify(real_name, *vids):
    atvs = [atv("1.2.410.200004.10.1.1.1", v) for v in vids]
    data = seq(utf8(real_name), seq(*atvs) if atvs else b"")
    return ctx(0, oid("1.2.410.200004.10.1.1") + ctx(0, data))


def vid(hash_oid, value):
    return seq(seq(oid(hash_oid)), ctx(0, octets(value)))


HUGE_ARC = "1.2.840." + str(2 ** 80 + 12345)
MANY_ARCS = ".".join(["1", "2"] + [str(i) for i in range(1, 70)])


def corpus():
    c = {}
    ok = cert(extensions=[ext("2.5.29.19", bc())])
    c["valid_v3"] = ok
    c["no_version"] = cert(version=None)
    c["version_9"] = cert(version=9)
    c["version_huge"] = cert(version=2 ** 70)

    # Times.
    c["time_bad_month"] = cert(not_before=utc("991399999999Z"))
    c["time_no_zone"] = cert(not_after=utc("2503010000"))
    c["time_offset"] = cert(not_after=utc("250301000000+0900"))
    c["time_empty"] = cert(not_before=utc(""))
    c["time_letters"] = cert(not_after=utc("YYMMDDHHMMSSZ"))
    c["time_gen_fraction"] = cert(not_after=gen("20510630120000.123Z"))
    c["time_gen_local"] = cert(not_after=gen("20510630120000"))
    c["time_gen_9999"] = cert(not_after=gen("99991231235959Z"))
    c["time_gen_year0"] = cert(not_before=gen("00000101000000Z"))
    c["time_integer"] = cert(raw_validity=seq(integer(5), integer(6)))
    c["time_missing"] = cert(raw_validity=seq(utc("240301000000Z")))

    # Identifiers.
    c["oid_huge_arc_sigalg"] = cert(sigalg=seq(oid(HUGE_ARC), NULL))
    c["oid_many_arcs_attr"] = cert(subject=name([atv(MANY_ARCS, utf8("x"))]))
    c["oid_empty"] = cert(sigalg=seq(tlv(0x06, b""), NULL))
    c["oid_unterminated_arc"] = cert(sigalg=seq(tlv(0x06, b"\x2a\x86\x48\x86"), NULL))
    c["oid_sha384"] = cert(sigalg=seq(oid("1.2.840.113549.1.1.12"), NULL))
    c["spki_unknown_alg"] = cert(spki=seq(seq(oid("1.2.3.4.5")), bits(b"\x00")))
    c["spki_kcdsa"] = cert(spki=seq(seq(oid("1.2.410.200004.1.1")), bits(b"\x02\x01\x05")))

    # Names.
    c["name_empty"] = cert(subject=seq())
    c["name_empty_rdn"] = cert(subject=seq(set_()))
    c["name_unknown_type"] = cert(subject=name([atv("1.2.3.4", utf8("x"))]))
    c["name_tls_feature_type"] = cert(subject=name([atv("1.3.6.1.5.5.7.1.24", utf8("x"))]))
    c["name_integer_value"] = cert(subject=name([atv("2.5.4.3", integer(7))]))
    c["name_bmp_odd"] = cert(subject=name([atv("2.5.4.3", tlv(0x1E, b"\xd5\x5c\x00"))]))
    c["name_bmp_surrogates"] = cert(subject=name([atv("2.5.4.3", bmp("a\U0001F600b"))]))
    c["name_universal"] = cert(subject=name([atv("2.5.4.3", tlv(0x1C, "홍".encode("utf-32-be")))]))
    c["name_nul_inside"] = cert(subject=name([atv("2.5.4.3", utf8("a\0b"))]))
    c["name_escapes"] = cert(subject=name([atv("2.5.4.3", utf8("#+,;<=>" * 30))]))
    c["name_300_rdns"] = cert(subject=name(*[[atv("2.5.4.11", utf8("ou%d" % i))]
                                             for i in range(300)]))
    c["name_multi_values"] = cert(subject=name([atv("2.5.4.3", utf8("a")),
                                                atv("2.5.4.4", utf8("b")),
                                                atv("2.5.4.42", utf8("c"))]))
    c["name_email_long"] = cert(subject=name([atv("1.2.840.113549.1.9.1", ia5("e" * 600))]))
    c["name_x500_unique"] = cert(subject=name([atv("2.5.4.45", bits(b"\x01"))]))

    # Serial numbers.
    c["serial_negative"] = cert(serial=-5)
    c["serial_empty"] = cert(serial=tlv(0x02, b""))
    c["serial_20"] = cert(serial=tlv(0x02, bytes(range(1, 21))))
    c["serial_21"] = cert(serial=tlv(0x02, bytes(range(1, 22))))

    # Extensions.
    c["ext_empty_list"] = cert(extensions=[])
    c["ext_bc_garbage"] = cert(extensions=[ext("2.5.29.19", b"\xff\xff")])
    c["ext_bc_pathlen_huge"] = cert(extensions=[ext("2.5.29.19", bc(True, 2 ** 100))])
    c["ext_bc_pathlen_negative"] = cert(extensions=[ext("2.5.29.19", bc(True, -1))])
    c["ext_ku_empty"] = cert(extensions=[ext("2.5.29.15", bits(b""))])
    c["ext_ku_unused7"] = cert(extensions=[ext("2.5.29.15", bits(b"\xff\x80", 7))])
    c["ext_ku_long"] = cert(extensions=[ext("2.5.29.15", bits(b"\xff" * 64))])
    c["ext_ku_not_bits"] = cert(extensions=[ext("2.5.29.15", octets(b"\x80"))])
    c["ext_policy_unknown_qualifier"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", seq(oid("1.2.3.4"), NULL))))])
    c["ext_policy_bmp_odd"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", notice(tlv(0x1E, b"\xd5\x5c\xac")))))])
    c["ext_policy_bmp_ffff"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", notice(tlv(0x1E, b"\xff\xff\x00\x41")))))])
    # A surrogate pair, then a lone high surrogate.
    c["ext_policy_bmp_surrogates"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", notice(tlv(0x1E, "\U0001F600".encode("utf-16-be") +
                                   b"\xd8\x00\x00x")))))])
    c["ext_policy_long_notice"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", notice(bmp("한" * 200))), policy("1.2.4", notice(utf8("u" * 600)))))])
    c["ext_policy_visible"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", notice(tlv(0x1A, b"visible text")))))])
    c["ext_policy_huge_oid"] = cert(extensions=[ext("2.5.29.32", policies(policy(MANY_ARCS)))])
    c["ext_policy_many"] = cert(extensions=[ext("2.5.29.32", policies(
        *[policy("1.2.410.200004.5.2.1.%d" % i, seq(oid("1.3.6.1.5.5.7.2.1"),
                                                     ia5("http://example.kr/" + "c" * 40)))
          for i in range(40)]))])
    c["ext_cps_not_ia5"] = cert(extensions=[ext("2.5.29.32", policies(
        policy("1.2.3", seq(oid("1.3.6.1.5.5.7.2.1"), integer(1)))))])
    c["ext_san_identify"] = cert(extensions=[ext("2.5.29.17", seq(identify(
        "홍길동", vid("2.16.840.1.101.3.4.2.1", b"\x11" * 32), vid("1.2.3", b"\x22" * 4))))])
    c["ext_san_identify_many_vids"] = cert(extensions=[ext("2.5.29.17", seq(identify(
        "x" * 200, *[vid("2.16.840.1.101.3.4.2.3", b"\x33" * 64) for _ in range(10)])))])
    c["ext_san_identify_garbage"] = cert(extensions=[ext("2.5.29.17", seq(ctx(
        0, oid("1.2.410.200004.10.1.1") + ctx(0, b"\x04\x01\x00"))))])
    c["ext_san_vid_garbage"] = cert(extensions=[ext("2.5.29.17", seq(identify(
        "a", integer(3))))])
    c["ext_san_unknown_other"] = cert(extensions=[ext("2.5.29.17", seq(ctx(
        0, oid("1.2.3.4.5.6") + ctx(0, NULL))))])
    c["ext_aia_unknown_method"] = cert(extensions=[ext("1.3.6.1.5.5.7.1.1", seq(
        seq(oid("1.3.6.1.5.5.7.48.2"), tlv(0x86, b"http://a")),
        seq(oid("1.3.6.1.5.5.7.48.5"), tlv(0x86, b"http://b"))))])
    c["ext_aia_dns_location"] = cert(extensions=[ext("1.3.6.1.5.5.7.1.1", seq(
        seq(oid("1.3.6.1.5.5.7.48.1"), tlv(0x82, b"ocsp.example.kr"))))])
    c["ext_crldp_relative"] = cert(extensions=[ext("2.5.29.31", seq(seq(ctx(0, ctx(1, atv(
        "2.5.4.3", utf8("dp")))))))])
    c["ext_crldp_dns"] = cert(extensions=[ext("2.5.29.31", seq(seq(ctx(0, ctx(0, tlv(
        0x82, b"crl.example.kr"))))))])
    c["ext_crldp_empty_point"] = cert(extensions=[ext("2.5.29.31", seq(seq()))])
    c["ext_aki_uri_issuer"] = cert(extensions=[ext("2.5.29.35", seq(
        tlv(0x80, b"\x01\x02"), ctx(1, tlv(0x86, b"http://issuer")), tlv(0x82, b"\x05")))])
    c["ext_aki_empty_names"] = cert(extensions=[ext("2.5.29.35", seq(ctx(1, b"")))])
    c["ext_ski_empty"] = cert(extensions=[ext("2.5.29.14", octets(b""))])
    c["ext_ski_long"] = cert(extensions=[ext("2.5.29.14", octets(b"\xab" * 300))])
    c["ext_unknown_oid_last"] = cert(extensions=[ext("2.5.29.19", bc()),
                                                 ext(HUGE_ARC, NULL)])
    c["ext_sia"] = cert(extensions=[ext("1.3.6.1.5.5.7.1.11", seq(
        seq(oid("1.3.6.1.5.5.7.48.5"), tlv(0x86, b"http://repo"))))])
    c["ext_critical_not_der"] = cert(extensions=[seq(oid("2.5.29.19"), b"\x01\x01\x01",
                                                     octets(bc()))])

    # Encodings.
    c["truncated_half"] = ok[: len(ok) // 2]
    c["truncated_one"] = ok[:-1]
    c["trailing_bytes"] = ok + b"\x00\x00\x05\x00"
    c["indefinite_length"] = indefinite(ok)
    c["indefinite_length_v1"] = indefinite(cert(version=None))
    c["length_overflow"] = b"\x30\x84\xff\xff\xff\xf0" + ok[4:]
    # Eight length octets from 2^63 on: the value leaves a signed 64-bit length.
    c["length_8_octets"] = b"\x30\x88\x80" + bytes(8)
    c["deep_nesting"] = b"\x30\x80" * 3000
    return c


def indefinite(der):
    """Re-encodes every constructed element with the indefinite length form (BER)."""
    out = bytearray()
    i = 0
    while i < len(der):
        tag = der[i]
        i += 1
        first = der[i]
        i += 1
        if first & 0x80:
            n = first & 0x7F
            size = int.from_bytes(der[i:i + n], "big")
            i += n
        else:
            size = first
        content = der[i:i + size]
        i += size
        if tag & 0x20:
            out += bytes([tag, 0x80]) + indefinite(content) + b"\x00\x00"
        else:
            out += bytes([tag]) + length(size) + content
    return bytes(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        if old.endswith(".der"):
            os.remove(os.path.join(OUT, old))
    for name, data in sorted(corpus().items()):
        with open(os.path.join(OUT, name + ".der"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
