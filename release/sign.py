"""Authenticode signing of the release's programs with the organisation's own certificate
(osslsigncode, SHA-256), for make_release.py. Before anything is signed, the certificate is
checked: the files exist, the password opens them, the key belongs to the certificate, the
certificate is valid now and is meant for code signing. After signing, the signature is removed
again from a copy, which must give back the unsigned bytes: signing must change nothing else.

The settings come from the environment (make passes its command line's variables on):
  SIGN_PKCS12         a PKCS#12 file with the certificate, its chain and the key, or
  SIGN_CERTS          a PEM (or DER) certificate file, the signing certificate first, with
  SIGN_KEY            its private key (PEM or DER)
  SIGN_PASSWORD_FILE  a file whose first line is the password of the PKCS#12 file or the key
  SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (optional)
The password is only ever read from its file, by openssl and osslsigncode themselves, so that it
never stands on a command line where ps shows it.
"""
import datetime
import os
import re
import shutil
import subprocess
import tempfile

SETTINGS = ["SIGN_PKCS12", "SIGN_CERTS", "SIGN_KEY", "SIGN_PASSWORD_FILE", "SIGN_TIMESTAMP_URL"]


class SigningError(Exception):
    """A one-line reason why the release cannot be signed."""


def requested(environ):
    return any(environ.get(name) for name in SETTINGS)


def settings(environ):
    """The checked settings: {name: value} of the ones given."""
    given = {name: environ[name] for name in SETTINGS if environ.get(name)}
    if "SIGN_PKCS12" in given and ("SIGN_CERTS" in given or "SIGN_KEY" in given):
        raise SigningError("give either SIGN_PKCS12 or SIGN_CERTS with SIGN_KEY, not both")
    if "SIGN_PKCS12" not in given and ("SIGN_CERTS" in given) != ("SIGN_KEY" in given):
        raise SigningError("SIGN_CERTS and SIGN_KEY go together: the certificate and its key")
    if "SIGN_PKCS12" not in given and "SIGN_CERTS" not in given:
        raise SigningError("no certificate: give SIGN_PKCS12, or SIGN_CERTS with SIGN_KEY")
    for name in ("SIGN_PKCS12", "SIGN_CERTS", "SIGN_KEY", "SIGN_PASSWORD_FILE"):
        if name in given and not os.path.isfile(given[name]):
            raise SigningError("%s: no such file: %s" % (name, given[name]))
        if name in given and not os.access(given[name], os.R_OK):
            raise SigningError("%s: cannot read %s" % (name, given[name]))
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            raise SigningError("%s is missing; scripts/bootstrap.sh installs it" % tool)
    return given


def openssl(arguments, what, stdin=None):
    result = subprocess.run(["openssl"] + arguments, input=stdin, capture_output=True)
    if result.returncode != 0:
        raise SigningError(what)
    return result.stdout


def passin(given):
    # An empty password when no file is given, so that openssl never waits at a prompt.
    return "file:" + given["SIGN_PASSWORD_FILE"] if "SIGN_PASSWORD_FILE" in given else "pass:"


def certificate(given):
    """The signing certificate (PEM), once the password has opened its file."""
    if "SIGN_PKCS12" in given:
        path = given["SIGN_PKCS12"]
        arguments = ["pkcs12", "-in", path, "-passin", passin(given), "-nokeys", "-clcerts"]
        result = subprocess.run(["openssl"] + arguments, capture_output=True)
        if result.returncode != 0 and b"unsupported" in result.stderr:
            # Files exported by older tools use ciphers that OpenSSL 3 keeps in its legacy provider.
            result = subprocess.run(["openssl"] + arguments + ["-legacy"], capture_output=True)
        if result.returncode != 0:
            if b"invalid password" in result.stderr:
                raise SigningError("SIGN_PKCS12 %s: wrong password (SIGN_PASSWORD_FILE %s)"
                                   % (path, given.get("SIGN_PASSWORD_FILE", "not given")))
            raise SigningError("SIGN_PKCS12 %s: not a PKCS#12 file openssl can read" % path)
        if b"BEGIN CERTIFICATE" not in result.stdout:
            raise SigningError("SIGN_PKCS12 %s holds no certificate marked as its key's" % path)
        return result.stdout
    cert = openssl(["x509", "-in", given["SIGN_CERTS"]],
                   "SIGN_CERTS %s: no certificate openssl can read" % given["SIGN_CERTS"])
    key = given["SIGN_KEY"]
    key_public = openssl(["pkey", "-in", key, "-passin", passin(given), "-pubout"],
                         "SIGN_KEY %s: cannot read the key: wrong password (SIGN_PASSWORD_FILE %s) "
                         "or not a key" % (key, given.get("SIGN_PASSWORD_FILE", "not given")))
    cert_public = openssl(["x509", "-noout", "-pubkey"], "cannot read the certificate", cert)
    if key_public != cert_public:
        raise SigningError("SIGN_KEY %s is not the key of the first certificate in SIGN_CERTS %s"
                           % (key, given["SIGN_CERTS"]))
    return cert


def describe(cert):
    """{subject, issuer, notBefore, notAfter, extensions} of a PEM certificate."""
    text = openssl(["x509", "-noout", "-subject", "-issuer", "-startdate", "-enddate",
                    "-nameopt", "RFC2253", "-ext", "keyUsage,extendedKeyUsage"],
                   "cannot read the certificate", cert).decode("utf-8", "replace")
    found = {"extensions": text}
    for line in text.splitlines():
        key, _, value = line.partition("=")
        if key in ("subject", "issuer", "notBefore", "notAfter"):
            found[key] = value
    return found


def when(openssl_date):
    return datetime.datetime.strptime(openssl_date.replace("  ", " "), "%b %d %H:%M:%S %Y GMT")


def check_certificate(cert):
    """The certificate's description, once it is valid now and meant for code signing."""
    about = describe(cert)
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    if when(about["notAfter"]) <= now:
        raise SigningError("the certificate %s expired on %s"
                           % (about["subject"], about["notAfter"]))
    if when(about["notBefore"]) > now:
        raise SigningError("the certificate %s is valid only from %s"
                           % (about["subject"], about["notBefore"]))
    if "Code Signing" not in about["extensions"]:
        raise SigningError("the certificate %s is not a code-signing certificate (no Code Signing "
                           "in its extended key usage)" % about["subject"])
    if "Key Usage" in about["extensions"].replace("Extended Key Usage", "") and \
            "Digital Signature" not in about["extensions"]:
        raise SigningError("the certificate %s may not make signatures (no Digital Signature in "
                           "its key usage)" % about["subject"])
    return about


def osslsigncode(arguments, what):
    result = subprocess.run(["osslsigncode"] + arguments, capture_output=True, text=True)
    if result.returncode != 0:
        # Its own first complaint names the cause; OpenSSL's error stack after it does not.
        said = [line.strip() for line in result.stderr.splitlines()
                if line.strip() and not re.match(r"[0-9A-F]+:error:", line)]
        raise SigningError("%s: %s" % (what, said[0] if said else "osslsigncode failed"))


def remove_signature(path, out):
    """Writes the program at path without its Authenticode signature to out; False, writing
    nothing, when it carries none."""
    result = subprocess.run(["osslsigncode", "remove-signature", "-in", path, "-out", out],
                            capture_output=True, text=True)
    if result.returncode == 0:
        return True
    if "No signature found" in result.stdout + result.stderr:
        return False
    raise SigningError("osslsigncode cannot remove the signature of %s" % path)


def sign_one(given, description, unsigned, folder, name):
    stem = name.replace("/", "-")
    source, signed, stripped = (os.path.join(folder, stem + suffix)
                                for suffix in (".exe", ".signed.exe", ".stripped.exe"))
    with open(source, "wb") as f:
        f.write(unsigned)
    arguments = ["sign", "-h", "sha256", "-n", description]
    if "SIGN_PKCS12" in given:
        arguments += ["-pkcs12", given["SIGN_PKCS12"]]
    else:
        arguments += ["-certs", given["SIGN_CERTS"], "-key", given["SIGN_KEY"]]
    if "SIGN_PASSWORD_FILE" in given:
        arguments += ["-readpass", given["SIGN_PASSWORD_FILE"]]
    if "SIGN_TIMESTAMP_URL" in given:
        arguments += ["-ts", given["SIGN_TIMESTAMP_URL"]]
    osslsigncode(arguments + ["-in", source, "-out", signed], "signing %s" % name)
    with open(signed, "rb") as f:
        result = f.read()
    if not remove_signature(signed, stripped):
        raise SigningError("signing %s left no signature to remove" % name)
    with open(stripped, "rb") as f:
        if f.read() != unsigned:
            raise SigningError("signing %s changed more than the signature" % name)
    return result


def sign(files, programs, description, environ):
    """{program: signed bytes} for the given programs of files, and BUILDINFO's signature lines.
    Raises SigningError before or instead of any partial result."""
    given = settings(environ)
    about = check_certificate(certificate(given))
    signed = {}
    with tempfile.TemporaryDirectory(prefix="vivediz-sign.") as folder:
        for program in programs:
            signed[program] = sign_one(given, description, files[program], folder, program)
    if "SIGN_TIMESTAMP_URL" in given:
        timestamp = "Timestamp: from %s" % given["SIGN_TIMESTAMP_URL"]
    else:
        timestamp = ("Timestamp: none: the signatures are valid only while the certificate is, "
                     "until %s" % about["notAfter"])
    return signed, ["Signature: Authenticode, SHA-256, by %s" % about["subject"],
                    "Certificate issued by: %s" % about["issuer"],
                    "Certificate valid: %s to %s" % (about["notBefore"], about["notAfter"]),
                    timestamp]
