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


class GssapiMechanism:
    """SASL GSSAPI as Thrift's SASL server runs it for Hive under Kerberos:
    the context tokens, then the security-layer offer wrapped by the context
    and the client's wrapped choice. The acceptor's key comes from the
    keytab named by KRB5_KTNAME; `qop` is the layers offered (bit 1 none,
    2 integrity, 4 confidentiality)."""

    name = "GSSAPI"

    def __init__(self, credentials, qop=1):
        import gssapi
        self.gssapi = gssapi
        self.context = gssapi.SecurityContext(usage="accept",
                                              creds=gssapi.Credentials(usage="accept"))
        self.qop = qop
        self.state = "context"
        self.user = None

    def step(self, payload):
        try:
            if self.state == "context":
                token = self.context.step(payload) if payload else None
                if self.context.complete:
                    self.state = "offer"
                    if token:
                        return False, token
                    return self._offer()
                return False, token or b""
            if self.state == "offer":
                return self._offer()
            reply = self.context.unwrap(payload).message
        except self.gssapi.exceptions.GSSError as e:
            raise AuthFailure("GSS initiate failed", str(e)) from None
        if len(reply) < 4 or not (reply[0] & self.qop) or bin(reply[0]).count("1") != 1:
            raise AuthFailure("Incompatible SASL security layer", "layer %r" % reply[:1])
        self.user = str(self.context.initiator_name).partition("@")[0].partition("/")[0]
        return True, b""

    def _offer(self):
        self.state = "layer"
        offer = bytes([self.qop]) + (65536).to_bytes(3, "big")
        return False, self.context.wrap(offer, False).message


MECHANISMS = {"PLAIN": PlainMechanism}
KERBEROS_MECHANISMS = {"GSSAPI": GssapiMechanism}


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


class NegotiateScheme:
    """SPNEGO "Negotiate" as Hive's servlet takes it under Kerberos: one
    token per request, the acceptor's answer sent back in WWW-Authenticate."""

    name = "Negotiate"

    def __init__(self, credentials):
        self.response_headers = ()

    def authenticate(self, token):
        import gssapi
        try:
            context = gssapi.SecurityContext(usage="accept", creds=gssapi.Credentials(usage="accept"))
            answer = context.step(base64.b64decode(token, validate=True))
        except (ValueError, gssapi.exceptions.GSSError) as e:
            failure = AuthFailure("Kerberos authentication failed: %s" % e)
            failure.headers = (("WWW-Authenticate", "Negotiate"),)
            raise failure from None
        if not context.complete:
            failure = AuthFailure("Kerberos authentication is not complete")
            failure.headers = (("WWW-Authenticate", "Negotiate"),)
            raise failure
        if answer:
            self.response_headers = (("WWW-Authenticate",
                                      "Negotiate " + base64.b64encode(answer).decode("ascii")),)
        return str(context.initiator_name).partition("@")[0].partition("/")[0]


SCHEMES = {"basic": BasicScheme}
KERBEROS_SCHEMES = {"negotiate": NegotiateScheme}

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
