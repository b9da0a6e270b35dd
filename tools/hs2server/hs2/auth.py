"""Authentication of clients: SASL mechanisms for the binary transport and
schemes of the HTTP Authorization header.

Each mechanism and scheme is looked up by name, so that Kerberos (GSSAPI
under SASL, Negotiate over HTTP) plugs in as one more entry of MECHANISMS and
SCHEMES without touching the transports.
"""

import base64
import hashlib
import hmac
import os
import time

LOGIN_ERROR = "Error validating the login"


class AuthFailure(Exception):
    """A refused login: str() is what the client is told, `cause` the
    reason behind it (for the log)."""

    def __init__(self, message, cause=None):
        super().__init__(message)
        self.cause = cause or message


class Credentials:
    """The accepted user and password; None accepts anyone, as a Hive
    server with authentication NONE does."""

    def __init__(self, user=None, password=None):
        self.user = user
        self.password = password

    def check(self, user, password):
        if self.user is not None and user != self.user:
            raise AuthFailure(LOGIN_ERROR)
        if self.password is not None and not hmac.compare_digest(
                password.encode("utf-8"), self.password.encode("utf-8")):
            raise AuthFailure(LOGIN_ERROR)
        return user


def java_chars(data):
    """Bytes as PlainSaslServer turns them into text: each byte cast to a Java
    char on its own, sign-extended, so a byte of 0x80 or more becomes
    U+FF80..U+FFFF and a UTF-8 name arrives as one odd character per byte."""
    return "".join(chr(b) if b < 0x80 else chr(0xFF00 | b) for b in data)


class PlainMechanism:
    """SASL PLAIN as Hive's PlainSaslServer reads it: one message
    "[authzid] NUL user NUL password"."""

    name = "PLAIN"

    def __init__(self, credentials):
        self.credentials = credentials
        self.user = None

    def step(self, payload):
        """Returns (done, challenge); raises AuthFailure. Every failure reaches
        the client as "Error validating the login" (evaluateResponse wraps its
        IOExceptions in that SaslException). The authorisation id is ignored:
        the session runs as the authentication id (getAuthorizationID)."""
        parts = payload.split(b"\0")
        if len(parts) not in (2, 3):
            raise AuthFailure(LOGIN_ERROR, "Invalid message format")
        user, password = java_chars(parts[-2]), java_chars(parts[-1])
        if not user:
            raise AuthFailure(LOGIN_ERROR, "No user name provided")
        if not password:
            raise AuthFailure(LOGIN_ERROR, "No password name provided")
        self.credentials.check(user, password)
        self.user = user
        return True, b""


MECHANISMS = {"PLAIN": PlainMechanism}


class BasicScheme:
    name = "Basic"

    def __init__(self, credentials):
        self.credentials = credentials

    def authenticate(self, token):
        try:
            user, sep, password = base64.b64decode(token, validate=True).decode("utf-8").partition(":")
        except (ValueError, UnicodeDecodeError):
            raise AuthFailure("Authorization header received from the client is malformed") from None
        if not sep:
            raise AuthFailure("Authorization header received from the client does not "
                              "contain a password")
        try:
            return self.credentials.check(user, password)
        except AuthFailure as e:
            # ThriftHttpServlet.doPasswdAuth wraps the provider's exception:
            # HttpAuthenticationException(e).getMessage() is e.toString().
            raise AuthFailure("javax.security.sasl.AuthenticationException: %s" % e) from None


SCHEMES = {"basic": BasicScheme}

COOKIE_NAME = "hive.server2.auth"


class CookieSigner:
    """Signs the "hive.server2.auth" cookie: cu=user&rn=random&s=signature."""

    def __init__(self, max_age=86400):
        self.key = os.urandom(32)
        self.max_age = max_age

    def make(self, user):
        body = "cu=%s&rn=%d&ts=%d" % (user, int.from_bytes(os.urandom(6), "big"), int(time.time()))
        sig = hmac.new(self.key, body.encode("utf-8"), hashlib.sha256).hexdigest()
        return "%s&s=%s" % (body, sig)

    def verify(self, value):
        """The user of a valid cookie value, else None."""
        value = value.strip().strip('"')
        body, sep, sig = value.rpartition("&s=")
        if not sep:
            return None
        want = hmac.new(self.key, body.encode("utf-8"), hashlib.sha256).hexdigest()
        if not hmac.compare_digest(want, sig):
            return None
        fields = dict(p.partition("=")[::2] for p in body.split("&"))
        try:
            if time.time() - int(fields.get("ts", "0")) > self.max_age:
                return None
        except ValueError:
            return None
        return fields.get("cu")


def cookie_values(header, name):
    """Every value of the named cookie in a Cookie header, read leniently:
    pairs may be separated by ";" or ",", carry attributes, or repeat."""
    out = []
    for part in header.replace(",", ";").split(";"):
        key, sep, value = part.strip().partition("=")
        if sep and key.strip() == name:
            out.append(value.strip())
    return out
