// The reference side of tests/driver/hs2_node_compare_test.py: the pinned
// hive-driver client fetches a query's rows from a running test server and
// prints them as JSON, with values the client gives as objects (64-bit
// integers, buffers) turned into text so that the test compares text with
// text.
//
// Usage: node hs2_node_fetch.js PORT PROTOCOL QUERY
//   PROTOCOL: the session's protocol number (TProtocolVersion), e.g. 9 for
//   V10 (column-wise results) or 4 for V5 (row-wise).
'use strict';

const path = require('path');

const root = path.resolve(__dirname, '..', '..');
const hive = require(path.join(root, 'tools', 'hs2server', 'node_modules', 'hive-driver'));
const { TCLIService, TCLIService_types: T } = hive.thrift;

function plain(value) {
  if (value === null || value === undefined) return null;
  if (Buffer.isBuffer(value)) return { base64: value.toString('base64') };
  if (typeof value === 'bigint') return value.toString();
  if (typeof value === 'object' && typeof value.toOctetString === 'function') {
    // node-int64: exact decimal text from its two halves.
    return BigInt.asIntN(64, BigInt('0x' + value.toOctetString())).toString();
  }
  return value;
}

// The one member of a Thrift union that is set.
function present(union) {
  for (const key of Object.keys(union)) {
    if (union[key] !== null && union[key] !== undefined) return union[key];
  }
  return {};
}

// Bit r of a column's null map, lowest bit first.
function isNull(nulls, r) {
  if (!nulls) return false;
  const byte = r >> 3;
  return byte < nulls.length && (nulls[byte] & (1 << (r & 7))) !== 0;
}

function blockRows(set) {
  if (set.columns && set.columns.length) return present(set.columns[0]).values.length;
  return (set.rows || []).length;
}

async function main() {
  const [portText, protocolText, query] = process.argv.slice(2);
  const client = new hive.HiveClient(TCLIService, T);
  await client.connect({ host: '127.0.0.1', port: parseInt(portText, 10) }, new hive.connections.TcpConnection(),
    new hive.auth.PlainTcpAuthentication({ username: 'tester', password: 'secret' }));
  const session = await client.openSession({ client_protocol: parseInt(protocolText, 10) });
  const utils = new hive.HiveUtils(T);
  const op = await session.executeStatement(query);
  await utils.waitUntilReady(op, false, () => {});
  // Fetch until a block comes back empty: the client's own fetchAll stops
  // after the first row-wise block, as its more-rows test looks only at
  // columns, and servers leave hasMoreRows false.
  for (;;) {
    const before = op.getData().length;
    await op.fetch();
    const data = op.getData();
    if (data.length === before || blockRows(data[data.length - 1]) === 0) break;
  }
  const schema = await op.getSchema();
  const names = schema.columns.map((c) => c.columnName);
  // The blocks as the client fetched them, read directly: the client's own
  // row conversion yields nothing for row-wise blocks.
  const rows = [];
  for (const set of op.getData()) {
    if (set.columns && set.columns.length) {
      const cols = set.columns.map(present);
      const count = cols.length ? cols[0].values.length : 0;
      for (let r = 0; r < count; r++) {
        rows.push(cols.map((c) => (isNull(c.nulls, r) ? null : plain(c.values[r]))));
      }
    } else {
      for (const row of set.rows || []) {
        rows.push(row.colVals.map((v) => {
          const cell = present(v);
          return cell.value === undefined ? null : plain(cell.value);
        }));
      }
    }
  }
  await op.close();
  await session.close();
  await client.close();
  process.stdout.write(JSON.stringify({ columns: names, rows }));
}

main().catch((e) => {
  console.error('hs2_node_fetch: ' + (e && e.stack ? e.stack : e));
  process.exit(1);
});
