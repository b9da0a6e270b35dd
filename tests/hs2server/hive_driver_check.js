// Checks the HiveServer2 test server with hive-driver, an independent
// HiveServer2 client from the npm registry: over binary PLAIN, binary NOSASL
// and HTTP it connects, fetches every type of the fixture in blocks smaller
// than the table, asks GetInfo, GetTables and GetColumns, and compares what
// it receives with the fixture; it also reads the Spark identity's short NULL
// bitmaps and sees a protocol newer than the server refused. Ends with the
// line "N passed, N failed".
'use strict';

const path = require('path');
const { spawn, execFileSync } = require('child_process');
const assert = require('assert');

const root = path.resolve(__dirname, '..', '..');
const hive = require(path.join(root, 'tools', 'hs2server', 'node_modules', 'hive-driver'));
const { TCLIService, TCLIService_types: T } = hive.thrift;
const server = path.join(root, 'tools', 'hs2server', 'hs2server');
const python = '/usr/bin/python3';

let passed = 0;
let failed = 0;

function startServer(args) {
  return new Promise((resolve, reject) => {
    const proc = spawn(python, [server, '--port', '0', ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    proc.stderr.on('data', (d) => { err += d; });
    proc.stdout.on('data', (d) => {
      out += d;
      const nl = out.indexOf('\n');
      if (nl >= 0) {
        const port = parseInt(out.slice(0, nl), 10);
        if (Number.isInteger(port)) resolve({ proc, port });
        else reject(new Error('bad first line ' + out));
      }
    });
    proc.on('exit', (code) => reject(new Error('server exited ' + code + ': ' + err)));
  });
}

function stopServer(proc) {
  return new Promise((resolve) => {
    if (proc.exitCode !== null) { resolve(proc.exitCode); return; }
    proc.removeAllListeners('exit');
    proc.on('exit', (code) => resolve(code));
    proc.kill('SIGTERM');
  });
}

function expectedRows(table, identity) {
  const args = [server, '--print-rows', table];
  if (identity) args.push('--server', identity);
  const text = execFileSync(python, args, { maxBuffer: 64 << 20 });
  return JSON.parse(text.toString('utf8'));
}

// What hive-driver's JsonResult makes of a value the wire carries.
function asDelivered(type, value) {
  if (value === null) return null;
  if (type === 'bigint') {
    const big = BigInt(value);
    const limit = 2n ** 53n;
    if (big >= limit || big <= -limit) return big < 0n ? -Infinity : Infinity;
    return Number(big);
  }
  if (type.startsWith('decimal')) return Number(value);
  if (type === 'binary') return Buffer.from(value.base64, 'base64').toString('base64');
  const json = (fallback) => { try { return JSON.parse(value); } catch (e) { return fallback; } };
  if (type.startsWith('array')) return json([]);
  if (type.startsWith('map') || type.startsWith('struct')) return json({});
  return value;
}

function normalise(value) {
  return Buffer.isBuffer(value) ? value.toString('base64') : value;
}

async function check(name, fn) {
  try {
    await fn();
    passed += 1;
    console.log('ok   ' + name);
  } catch (e) {
    failed += 1;
    console.log('FAIL ' + name + ': ' + (e && e.stack ? e.stack : e));
  }
}

async function connect(mode, port, user, password) {
  const client = new hive.HiveClient(TCLIService, T);
  if (mode === 'http') {
    await client.connect({ host: '127.0.0.1', port, options: { path: '/cliservice' } },
      new hive.connections.HttpConnection(),
      new hive.auth.PlainHttpAuthentication({ username: user, password }));
  } else if (mode === 'nosasl') {
    await client.connect({ host: '127.0.0.1', port }, new hive.connections.TcpConnection(),
      new hive.auth.NoSaslAuthentication());
  } else {
    await client.connect({ host: '127.0.0.1', port }, new hive.connections.TcpConnection(),
      new hive.auth.PlainTcpAuthentication({ username: user, password }));
  }
  return client;
}

async function fetchRows(session, operation, maxRows) {
  const utils = new hive.HiveUtils(T);
  await utils.waitUntilReady(operation, false, () => {});
  operation.setMaxRows(maxRows);
  await utils.fetchAll(operation);
  const rows = utils.getResult(operation).getValue();
  const blocks = operation.getData().length;
  await operation.close();
  return { rows, blocks };
}

async function runMode(mode, args, expected) {
  const { proc, port } = await startServer(args);
  let client = null;
  try {
    client = await connect(mode, port, 'alice', 'secret');
    const session = await client.openSession({
      client_protocol: T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V10,
    });

    await check(mode + ': every type of the fixture, in blocks of 7 rows', async () => {
      const op = await session.executeStatement('SELECT * FROM default.all_types');
      const { rows, blocks } = await fetchRows(session, op, 7);
      assert.ok(blocks > 2, 'expected several fetch blocks, got ' + blocks);
      checkRows(rows, expected);
    });

    await check(mode + ': GetInfo names the server', async () => {
      assert.strictEqual((await session.getInfo(T.TGetInfoType.CLI_DBMS_NAME)).getValue(), 'Apache Hive');
      assert.strictEqual((await session.getInfo(T.TGetInfoType.CLI_DBMS_VER)).getValue(), '3.1.3');
      await assert.rejects(session.getInfo(T.TGetInfoType.CLI_MAX_DRIVER_CONNECTIONS));
    });

    await check(mode + ': GetTables lists the tables and views of a database', async () => {
      const op = await session.getTables({ schemaName: 'default', tableName: '%' });
      const { rows } = await fetchRows(session, op, 3);
      const got = rows.map((r) => r.TABLE_NAME + ':' + r.TABLE_TYPE).sort();
      assert.deepStrictEqual(got, ['all_types:TABLE', 'empty_table:TABLE', 'intervals:TABLE',
        'long_values:TABLE', 'people:TABLE', 'v_adults:VIEW']);
      rows.forEach((r) => assert.strictEqual(r.TABLE_SCHEM, 'default'));
    });

    await check(mode + ': GetColumns gives names, types and positions', async () => {
      const op = await session.getColumns({ schemaName: 'default', tableName: 'all_types', columnName: '%' });
      const { rows } = await fetchRows(session, op, 5);
      assert.deepStrictEqual(rows.map((r) => r.COLUMN_NAME), expected.columns.map((c) => c[0]));
      assert.deepStrictEqual(rows.map((r) => r.ORDINAL_POSITION), expected.columns.map((c, i) => i + 1));
      const byName = Object.fromEntries(rows.map((r) => [r.COLUMN_NAME, r]));
      assert.strictEqual(byName.c_decimal.TYPE_NAME, 'DECIMAL');
      assert.strictEqual(byName.c_decimal.COLUMN_SIZE, 10);
      assert.strictEqual(byName.c_decimal.DECIMAL_DIGITS, 2);
      assert.strictEqual(byName.c_varchar.COLUMN_SIZE, 20);
      assert.strictEqual(byName.c_bigint.DATA_TYPE, -5);
      assert.strictEqual(byName.c_array.TYPE_NAME, 'array<int>');
    });

    await check(mode + ': long strings and binaries arrive whole', async () => {
      const want = expectedRows('default.long_values');
      const op = await session.executeStatement('SELECT id, s, b FROM long_values');
      const { rows } = await fetchRows(session, op, 4);
      assert.strictEqual(rows.length, want.rows.length);
      rows.forEach((row, i) => {
        assert.strictEqual(row.s, want.rows[i][1]);
        assert.strictEqual(normalise(row.b), want.rows[i][2] === null ? null : want.rows[i][2].base64);
      });
    });

    await check(mode + ': a query error comes back as an error status', async () => {
      await assert.rejects(session.executeStatement('SELECT * FROM nosuch_table'),
        (e) => /Table not found 'nosuch_table'/.test(e.message));
    });

    await session.close();
  } finally {
    if (client) { try { await client.close(); } catch (e) { /* already gone */ } }
    await stopServer(proc);
  }
}

async function wrongPassword() {
  const { proc, port } = await startServer(['--user', 'alice', '--password', 'secret']);
  try {
    await check('binary PLAIN: a wrong password is refused', async () => {
      await assert.rejects(connect('plain', port, 'alice', 'wrong'),
        (e) => /Error validating the login/.test(e.message));
    });
  } finally {
    await stopServer(proc);
  }
}

function checkRows(rows, expected) {
  assert.strictEqual(rows.length, expected.rows.length);
  rows.forEach((row, i) => {
    expected.columns.forEach(([col, type], j) => {
      const want = asDelivered(type, expected.rows[i][j]);
      assert.deepStrictEqual(normalise(row[col]), want, 'row ' + i + ' column ' + col);
    });
  });
}

async function sparkIdentity() {
  const { proc, port } = await startServer(['--server', 'spark-3']);
  let client = null;
  try {
    client = await connect('plain', port, 'alice', 'secret');
    const session = await client.openSession({
      client_protocol: T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V10,
    });
    await check('spark-3: empty and short NULL bitmaps read as the fixture', async () => {
      const expected = expectedRows('default.all_types', 'spark-3');
      // blocks of 9: columns without a NULL in a block send no bitmap bytes
      const op = await session.executeStatement('SELECT * FROM default.all_types');
      checkRows((await fetchRows(session, op, 9)).rows, expected);
    });
    await session.close();
  } finally {
    if (client) { try { await client.close(); } catch (e) { /* already gone */ } }
    await stopServer(proc);
  }
}

async function newerProtocol() {
  const { proc, port } = await startServer(['--server', 'hive-1.2']);
  let client = null;
  try {
    client = await connect('plain', port, 'alice', 'secret');
    await check('hive-1.2: a client protocol newer than the server fails OpenSession', async () => {
      await assert.rejects(client.openSession({
        client_protocol: T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V10,
      }), (e) => /Required field 'client_protocol' is unset!/.test(e.message));
      const session = await client.openSession({
        client_protocol: T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V8,
      });
      await session.close();
    });
  } finally {
    if (client) { try { await client.close(); } catch (e) { /* already gone */ } }
    await stopServer(proc);
  }
}

async function main() {
  const expected = expectedRows('default.all_types');
  await runMode('plain', ['--auth', 'plain', '--user', 'alice', '--password', 'secret'], expected);
  await runMode('nosasl', ['--auth', 'nosasl'], expected);
  await runMode('http', ['--transport', 'http', '--auth', 'plain', '--user', 'alice', '--password', 'secret'], expected);
  await wrongPassword();
  await sparkIdentity();
  await newerProtocol();
  console.log(passed + ' passed, ' + failed + ' failed');
  process.exit(failed === 0 && passed > 0 ? 0 : 1);
}

main().catch((e) => {
  console.log('FAIL setup: ' + (e && e.stack ? e.stack : e));
  console.log(passed + ' passed, ' + (failed + 1) + ' failed');
  process.exit(1);
});
