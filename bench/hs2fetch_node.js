// The Node side of the end-to-end fetch benchmark (bench/hs2fetch runs it):
// hive-driver, the HiveServer2 client the test server is checked against,
// fetches a query's rows from a running test server and turns each block
// into row objects, as its applications do, dropping each block after.
// Prints one line: mode, rows, seconds, rows/s.
//
// Usage: node hs2fetch_node.js binary|http|raw PORT QUERY ROWS BLOCK
//   raw: FetchResults only, without turning blocks into rows: what the
//   server (and the Thrift decoding) costs alone.
'use strict';

const path = require('path');

const root = path.resolve(__dirname, '..');
const hive = require(path.join(root, 'tools', 'hs2server', 'node_modules', 'hive-driver'));
const { TCLIService, TCLIService_types: T } = hive.thrift;

async function main() {
  const [mode, portText, query, rowsText, blockText] = process.argv.slice(2);
  const port = parseInt(portText, 10);
  const limit = parseInt(rowsText, 10);
  const block = parseInt(blockText, 10);
  const client = new hive.HiveClient(TCLIService, T);
  if (mode === 'http') {
    await client.connect({ host: '127.0.0.1', port, options: { path: '/cliservice' } },
      new hive.connections.HttpConnection(),
      new hive.auth.PlainHttpAuthentication({ username: 'bench', password: 'bench' }));
  } else {
    await client.connect({ host: '127.0.0.1', port }, new hive.connections.TcpConnection(),
      new hive.auth.PlainTcpAuthentication({ username: 'bench', password: 'bench' }));
  }
  const session = await client.openSession({
    client_protocol: T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V10,
  });
  const utils = new hive.HiveUtils(T);
  const start = process.hrtime.bigint();
  const op = await session.executeStatement(query);
  await utils.waitUntilReady(op, false, () => {});
  op.setMaxRows(block);
  let rows = 0;
  do {
    await op.fetch();
    if (mode === 'raw') {
      for (const set of op.getData()) {
        const col = (set.columns || [])[0] || {};
        const values = Object.values(col).find((v) => v && v.values);
        rows += values ? values.values.length : 0;
      }
    } else {
      rows += utils.getResult(op).getValue().length;
    }
    op.flush();
  } while (op.hasMoreRows() && rows < limit);
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  await op.close();
  await session.close();
  await client.close();
  const label = mode === 'raw' ? 'node-raw' : 'node-' + mode;
  console.log(`${label.padEnd(8)} rows=${rows} seconds=${seconds.toFixed(3)} rows_per_s=${Math.round(rows / seconds)}`);
}

main().catch((e) => { console.error('hs2fetch_node: ' + (e && e.stack ? e.stack : e)); process.exit(1); });
