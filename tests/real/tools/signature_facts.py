#!/usr/bin/env python3
"""Print the certificate facts of each signed file named on the command line:
PE images, scripts with a signature block, and catalogs (a bare PKCS#7).

The rows of tests/real/files.tsv take their reasons from these facts (signer,
chain as carried in the signature, digest algorithm, time-stamp kind and time,
nested signatures), never from what trustcheck answers. Certificates are read
with the openssl command; the PKCS#7 is walked with the fixture tools' DER
reader, so a token OpenSSL refuses to decode is still described.
"""
import base64
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "fixtures", "tools"))
import der_tree  # noqa: E402

OIDS = {
    "2b0e03021a": "sha1", "608648016503040201": "sha256", "608648016503040202": "sha384",
    "608648016503040203": "sha512", "2a864886f70d0205": "md5",
}
COUNTERSIGNATURE = "2a864886f70d010906"
RFC3161 = "2b060104018237030301"
NESTED = "2b060104018237020401"
SIGNING_TIME = "2a864886f70d010905"


def certificate_table(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directory = optional + (96 if magic == 0x10B else 112) + 4 * 8
    offset, size = struct.unpack_from("<II", data, directory)
    if not offset or not size:
        return None
    length = struct.unpack_from("<I", data, offset)[0]
    return data[offset + 8:offset + length]


def script_block(data):
    """The PKCS#7 of a script's signature block, or None. PowerShell writes it
    as '# ' comment lines, its XML formats as '<!-- ... -->' lines."""
    text = data.decode("utf-8-sig", "replace")
    lines = text.splitlines()
    start = next((i for i, line in enumerate(lines) if "SIG # Begin signature block" in line), None)
    if start is None:
        return None
    body = []
    for line in lines[start + 1:]:
        if "SIG # End signature block" in line:
            break
        body.append(line.strip().removeprefix("<!--").removesuffix("-->").strip().removeprefix("#").strip())
    return base64.b64decode("".join(body))


def signature_of(data):
    if data[:2] == b"MZ":
        return certificate_table(data)
    block = script_block(data)
    if block is not None:
        return block
    if data[:1] == b"\x30":
        return data  # a catalog is the signed message itself
    return None


def cert_facts(cert_der):
    out = subprocess.run(
        ["openssl", "x509", "-inform", "DER", "-noout", "-subject", "-issuer", "-startdate", "-enddate",
         "-ext", "extendedKeyUsage,basicConstraints", "-nameopt", "sep_comma_plus,utf8,sname"],
        input=cert_der, capture_output=True, check=True).stdout.decode()
    facts = {"der": cert_der, "eku": "", "bc": ""}
    lines = out.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("subject="):
            facts["subject"] = line[8:]
        elif line.startswith("issuer="):
            facts["issuer"] = line[7:]
        elif line.startswith("notBefore="):
            facts["from"] = line[10:]
        elif line.startswith("notAfter="):
            facts["to"] = line[9:]
        elif "Extended Key Usage" in line and i + 1 < len(lines):
            facts["eku"] = lines[i + 1].strip()
        elif "Basic Constraints" in line and i + 1 < len(lines):
            facts["bc"] = lines[i + 1].strip()
    key = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-text"], input=cert_der,
                         capture_output=True).stdout.decode()
    for line in key.splitlines():
        if "Public-Key:" in line:
            facts["key"] = line.strip()
    return facts


def cn(name):
    for part in name.split(","):
        if part.strip().startswith("CN="):
            return part.strip()[3:]
    return name


def signed_data(content_info):
    _, (oid, explicit) = content_info
    return explicit[1][0][1]


def certificates(sd):
    certs = []
    for tag, value in sd:
        if tag == 0xA0:
            for choice in value:
                if choice[0] == 0x30:
                    certs.append(cert_facts(der_tree.encode(choice)))
                else:
                    certs.append({"other": hex(choice[0])})
    return certs


def signer_infos(sd):
    return [si for si in sd[-1][1]]


def attributes(si, tag):
    for node in si[1]:
        if node[0] == tag:
            return {attr[1][0][1].hex(): attr[1][1][1] for attr in node[1]}
    return {}


def chain(certs, first_issuer_subject):
    x509 = [c for c in certs if "subject" in c]
    path, subject = [], first_issuer_subject
    for _ in range(8):
        leaf = next((c for c in x509 if c["subject"] == subject), None)
        if not leaf:
            return path, subject, False
        path.append(leaf)
        if leaf["issuer"] == leaf["subject"]:
            return path, subject, True
        subject = leaf["issuer"]
    return path, subject, False


def describe_signer(si, certs, indent):
    fields = si[1]
    digest = OIDS.get(fields[2][1][0][1].hex(), fields[2][1][0][1].hex())
    sid = fields[1]
    x509 = [c for c in certs if "subject" in c]
    if sid[0] == 0x30:
        serial = sid[1][1][1]
        issuer_der = der_tree.encode(sid[1][0])
        leaf = next((c for c in x509 if int.from_bytes(serial, "big") == int(serial_of(c), 16)
                     and issuer_of(c) == issuer_der), None)
        ident = "issuer+serial"
    else:
        leaf, ident = None, "subjectKeyIdentifier"
    lines = [f"{indent}digest {digest}, signer by {ident}, {len(signer_infos_count(si))}"]
    if leaf is None:
        lines.append(f"{indent}signer certificate not found in the bag")
        return lines, None
    path, top, rooted = chain(certs, leaf["subject"])
    for c in path:
        lines.append(f"{indent}  {cn(c['subject'])} [{c['from']} .. {c['to']}] {c.get('key', '')} "
                     f"eku={c['eku'] or '-'} bc={c['bc'] or '-'}")
    lines.append(f"{indent}  top: {'self-signed in bag' if rooted else 'issuer not in bag: ' + cn(path[-1]['issuer'])}")
    return lines, leaf


def signer_infos_count(si):
    return [si]


def serial_of(c):
    return subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-serial"], input=c["der"],
                          capture_output=True).stdout.decode().split("=")[-1].strip().lower()


def issuer_of(c):
    cert = der_tree.decode(c["der"])
    return der_tree.encode(cert[1][0][1][3] if cert[1][0][1][0][0] == 0xA0 else cert[1][0][1][2])


def describe(content_info_der, indent=""):
    ci = der_tree.decode(content_info_der)
    sd = signed_data(ci)
    certs = certificates(sd)
    sis = signer_infos(sd)
    others = [c["other"] for c in certs if "other" in c]
    lines = [f"{indent}SignerInfos: {len(sis)}; certificates: {len(certs)}"
             + (f" (non-X.509 choices {others})" if others else "")]
    body, _ = describe_signer(sis[0], certs, indent)
    lines += body
    unsigned = attributes(sis[0], 0xA1)
    for oid, values in unsigned.items():
        if oid == COUNTERSIGNATURE:
            cs = values[0]
            signed = attributes(cs, 0xA0)
            when = signed.get(SIGNING_TIME, [(0, b"?")])[0][1].decode()
            lines.append(f"{indent}countersignature (PKCS#9) signingTime {when}")
            sub, leaf = describe_signer(cs, certs, indent + "  ")
            lines += sub
            if leaf is not None:
                lines.append(f"{indent}  block: {rsa_block(leaf, cs)}")
        elif oid == RFC3161:
            token = der_tree.encode(values[0])
            tsd = signed_data(der_tree.decode(token))
            tst = der_tree.decode(tsd[2][1][1][1][0][1])
            gen = next(v for t, v in tst[1] if t == 0x18).decode()
            lines.append(f"{indent}RFC 3161 token genTime {gen}")
            lines += describe(token, indent + "  ")
        elif oid == NESTED:
            for value in values:
                lines.append(f"{indent}nested signature:")
                lines += describe(der_tree.encode(value), indent + "  ")
    return lines


def rsa_block(leaf, cs):
    """Whether the countersigner's RSA block holds a DigestInfo or the bare digest."""
    sig = cs[1][-2][1] if cs[1][-1][0] == 0xA1 else cs[1][-1][1]
    pem = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-pubkey"], input=leaf["der"],
                         capture_output=True).stdout
    with open("/tmp/.facts-key.pem", "wb") as f:
        f.write(pem)
    out = subprocess.run(["openssl", "pkeyutl", "-verifyrecover", "-pubin", "-inkey", "/tmp/.facts-key.pem"],
                         input=sig, capture_output=True).stdout
    return f"{len(out)} bytes " + ("(bare digest, no DigestInfo)" if len(out) in (16, 20) else "(DigestInfo)")


def main():
    for path in sys.argv[1:]:
        data = open(path, "rb").read()
        p7 = signature_of(data)
        print(f"== {path}")
        if p7 is None:
            print("unsigned")
            continue
        try:
            print("\n".join(describe(p7)))
        except Exception as error:  # a fact sheet, not a verifier: show what failed
            print(f"could not describe: {error!r}")


if __name__ == "__main__":
    main()
