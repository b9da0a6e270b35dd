"""Who the server poses as: Apache Hive 1.2.1, 2.3.9, 3.1.3 or Spark SQL 3.

Each identity fixes what a client can see of the server's version: the
protocol version it speaks, GetInfo's answers, version(), the shape of
SHOW TABLES and DESCRIBE, how TIMESTAMP and DECIMAL values are written, how
result columns are named and how errors read.
"""

from .hivetypes import WireStyle

# TProtocolVersion values: V1 is 0, so Vn is n - 1.
V6 = 5
V8 = 7
V10 = 9
V11 = 10


class Identity:
    def __init__(self, key, server_name, dbms_name, version, version_fn, protocol,
                 timestamp_style, pad_decimal, max_fetch_size, describe_padding,
                 formatted_header, owner_type):
        self.key = key
        self.server_name = server_name
        self.dbms_name = dbms_name
        self.version = version
        self.version_fn = version_fn
        self.protocol = protocol
        self.style = WireStyle(timestamp_style, pad_decimal)
        self.max_fetch_size = max_fetch_size
        self.describe_padding = describe_padding
        self.formatted_header = formatted_header
        self.owner_type = owner_type
        self.synthetic_rows = 2000000

    @property
    def is_spark(self):
        return self.key.startswith("spark")

    def pad_decimal_literal(self):
        """Hive 2.2 and later read 1.5 as a DECIMAL literal, older ones as DOUBLE."""
        return self.key != "hive-1.2"


IDENTITIES = {
    # Hive 1.2: protocol V8, java.sql.Timestamp text, decimals without
    # trailing zeros, no version() function, DESCRIBE cells padded to 20.
    "hive-1.2": lambda: Identity("hive-1.2", "Hive", "Apache Hive", "1.2.1", None, V8,
                                 "java", False, None, True, True, False),
    "hive-2.3": lambda: Identity("hive-2.3", "Hive", "Apache Hive", "2.3.9",
                                 "2.3.9 r92dd0159f440ca7863be3232f3a683a510a62b9d", V10,
                                 "java", True, 10000, False, True, False),
    "hive-3.1": lambda: Identity("hive-3.1", "Hive", "Apache Hive", "3.1.3",
                                 "3.1.3 r4df4d75bf1e16fe0af75aad0b4179c34c07fc975", V11,
                                 "hive3", True, 10000, False, False, True),
    "spark-3": lambda: Identity("spark-3", "Spark SQL", "Spark SQL", "3.1.3",
                                "3.1.3 d1f8a503a26bcfb4e466d9accc5fa241a7933667", V11,
                                "hive3", True, None, False, False, False),
}


def make(key):
    if key not in IDENTITIES:
        raise ValueError("unknown server identity %r (choose from %s)"
                         % (key, ", ".join(sorted(IDENTITIES))))
    return IDENTITIES[key]()
