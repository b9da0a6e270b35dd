"""Evaluates HiveQL on the test server for the SQL text tests: one
expression per input line, or a whole statement after "!"; prints, per line,
the first value of SELECT <expression> (or of the statement) as JSON, or
"ERROR <text>"."""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "hs2server"))

from hs2client import Client, QueryError, ServerProcess  # noqa: E402


def main():
    exprs = [line.rstrip("\n") for line in sys.stdin if line.strip()]
    with ServerProcess() as server:
        client = Client(server.port)
        client.open()
        try:
            for e in exprs:
                try:
                    _, _, rows, _ = client.query(e[1:] if e.startswith("!") else "SELECT " + e)
                    print(json.dumps(rows[0][0] if rows else None), flush=True)
                except QueryError as err:
                    print("ERROR " + str(err).replace("\n", " "), flush=True)
        finally:
            client.close()


if __name__ == "__main__":
    main()
