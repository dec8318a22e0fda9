// Signs in to the sandbox server with tedious, a TDS client independent of FreeTDS, in each
// encryption mode of the server, with encrypt false and true, runs SELECT 1, and checks what the
// server's statement log says of the login's encryption. The literal 1 must come as the server
// sends it: INT4, the fixed-length int, with the nullable flag clear. Then, on one connection, the
// flow of an answer as tedious sees it: a batch that goes on after a RAISERROR of severity 16, the
// rows before a runtime error in the middle of a result, and the database change that USE
// announces.
//
//     node signin.js SANDBOX_PROGRAM WORK_FOLDER
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');
const { Connection, Request } = require('tedious');

const [program, work] = process.argv.slice(2);
if (!program || !work) {
  console.error('usage: node signin.js SANDBOX_PROGRAM WORK_FOLDER');
  process.exit(2);
}
const patience = 60000;

// Each case: the server's mode, the client's encrypt option, then either the login line's
// encryption field or a pattern of the error tedious gives. With encrypt false tedious says it
// cannot do TLS; with encrypt true it asks for TLS but goes on in clear when the server has none.
const cases = [
  { mode: 'supported', encrypt: false, encryption: 'none' },
  { mode: 'supported', encrypt: true, encryption: 'all' },
  { mode: 'forced', encrypt: true, encryption: 'all' },
  { mode: 'forced', encrypt: false, error: /requires encryption/ },
  { mode: 'none', encrypt: false, encryption: 'none' },
  { mode: 'none', encrypt: true, encryption: 'none' },
];

function startServer(mode, log) {
  return new Promise((resolve, reject) => {
    const server = spawn(program, ['--listen', '127.0.0.1:0', '--demo', '--encryption', mode,
      '--statement-log', log], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    const timer = setTimeout(() => reject(new Error('the server did not start')), patience);
    server.on('error', reject);
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const m = /listening on 127\.0\.0\.1:(\d+)\n/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ server, port: Number(m[1]) });
      }
    });
  });
}

function signIn(port, encrypt) {
  return new Promise((resolve) => {
    const connection = new Connection({
      server: '127.0.0.1',
      authentication: { type: 'default', options: { userName: 'qel_admin', password: 'admin' } },
      options: {
        port, database: 'qel', encrypt, trustServerCertificate: true, connectTimeout: patience,
        requestTimeout: patience,
      },
    });
    connection.on('error', () => {});
    connection.connect((err) => {
      if (err) {
        resolve({ error: err.message });
        return;
      }
      let value;
      let type;
      let nullable;
      const request = new Request('SELECT 1 AS one', (requestError) => {
        connection.close();
        resolve(requestError ? { error: requestError.message } : { value, type, nullable });
      });
      request.on('row', (columns) => {
        value = columns[0].value;
        type = columns[0].metadata.type.name;
        nullable = (columns[0].metadata.flags & 0x01) !== 0;
      });
      connection.execSql(request);
    });
  });
}

function connect(port) {
  return new Promise((resolve, reject) => {
    const connection = new Connection({
      server: '127.0.0.1',
      authentication: { type: 'default', options: { userName: 'qel_admin', password: 'admin' } },
      options: { port, database: 'qel', encrypt: false, connectTimeout: patience, requestTimeout: patience },
    });
    connection.on('error', () => {});
    connection.connect((err) => (err ? reject(err) : resolve(connection)));
  });
}

// Runs the batch to its end: the first column of each row, the messages' numbers and classes,
// the databases announced, and the request's error.
function run(connection, sql) {
  return new Promise((resolve) => {
    const seen = { values: [], messages: [], databases: [] };
    const onInfo = (m) => seen.messages.push(`INFO ${m.number} class ${m.class}`);
    const onDatabase = (name) => seen.databases.push(name);
    connection.on('infoMessage', onInfo);
    connection.on('databaseChange', onDatabase);
    const request = new Request(sql, (err) => {
      connection.removeListener('infoMessage', onInfo);
      connection.removeListener('databaseChange', onDatabase);
      seen.error = err ? `${err.number} ${err.message}` : null;
      resolve(seen);
    });
    request.on('row', (columns) => seen.values.push(columns[0].value));
    connection.execSql(request);
  });
}

async function flow() {
  const log = path.join(work, 'statements-flow.log');
  const { server, port } = await startServer('none', log);
  const problems = [];
  try {
    const connection = await connect(port);
    const goesOn = await run(connection, "RAISERROR('stopped?', 16, 1) SELECT 2 AS after");
    if (goesOn.error !== '50000 stopped?' || JSON.stringify(goesOn.values) !== '[2]') {
      problems.push(`the batch after RAISERROR: ${JSON.stringify(goesOn)}`);
    }
    // A runtime error at the third row of a result: the two rows before it, the error, and the
    // batch going on after it.
    await run(connection, 'CREATE TABLE amid (id int NOT NULL PRIMARY KEY, x int) '
      + 'INSERT INTO amid (id, x) VALUES (1, 5), (2, 2), (3, 0), (4, 1)');
    const amid = await run(connection, 'SELECT 10 / x AS q FROM amid ORDER BY id SELECT 7 AS after');
    if (amid.error !== '8134 Divide by zero error encountered.' || JSON.stringify(amid.values) !== '[2,5,7]') {
      problems.push(`a runtime error amid the rows: ${JSON.stringify(amid)}`);
    }
    const use = await run(connection, 'USE qel');
    if (JSON.stringify(use.databases) !== '["qel"]' || !use.messages.includes('INFO 5701 class 0')) {
      problems.push(`USE: ${JSON.stringify(use)}`);
    }
    connection.close();
  } catch (e) {
    problems.push(`error: ${e.message}`);
  }
  server.kill('SIGTERM');
  await new Promise((resolve) => server.on('exit', resolve));
  console.log(`${problems.length ? 'FAIL' : 'PASS'}: the flow of an answer${problems.length ? `: ${problems.join('; ')}` : ''}`);
  return problems.length;
}

async function main() {
  fs.mkdirSync(work, { recursive: true });
  let failures = 0;
  for (const c of cases) {
    const name = `${c.mode}, encrypt ${c.encrypt}`;
    const log = path.join(work, `statements-${c.mode}-${c.encrypt}.log`);
    fs.rmSync(log, { force: true });
    const { server, port } = await startServer(c.mode, log);
    const result = await signIn(port, c.encrypt);
    server.kill('SIGTERM');
    await new Promise((resolve) => server.on('exit', resolve));
    const lines = fs.existsSync(log) ? fs.readFileSync(log, 'utf8').split('\n') : [];
    let problem = null;
    if (c.error) {
      if (!result.error) problem = 'signed in where an error was due';
      else if (!c.error.test(result.error)) problem = `unexpected error: ${result.error}`;
    } else if (result.error) {
      problem = `error: ${result.error}`;
    } else if (result.value !== 1) {
      problem = `SELECT 1 gave ${result.value}`;
    } else if (result.type !== 'Int' || result.nullable) {
      problem = `SELECT 1 came as ${result.type}${result.nullable ? ', nullable' : ''}`;
    } else if (!lines.includes(`qel_admin\tLOGIN-OK\tqel\tencryption=${c.encryption}`)) {
      problem = `statement log: ${JSON.stringify(lines)}`;
    }
    console.log(`${problem ? 'FAIL' : 'PASS'}: ${name}${problem ? `: ${problem}` : result.error ? ` (${result.error})` : ''}`);
    if (problem) failures += 1;
  }
  failures += await flow();
  process.exit(failures ? 1 : 0);
}

main().catch((e) => {
  console.error(`FAIL: ${e.stack || e}`);
  process.exit(1);
});
