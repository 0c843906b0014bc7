// DuckDB as a peer of workloads 2 and 3: the ticks of bench/run's heavy
// symbol, loaded from a CSV file into DuckDB's own table (not timed), then
// the query alone timed, its rows read to the end.
//   node peer.mjs CSV ohlc BEGIN_S END_S REPS   60-second OHLCV bars per day
//   node peer.mjs CSV changes REPS              ticks whose price changed
// Prints "median=S min=S max=S" over REPS runs after one warm-up run.
import { DuckDBInstance } from '@duckdb/node-api';

const [csv, workload, ...rest] = process.argv.slice(2);
const instance = await DuckDBInstance.create(':memory:');
const con = await instance.connect();
await con.run(`CREATE TABLE ticks AS SELECT ID, Date, CAST(round(Time * 86400000) AS BIGINT) AS ms, Bid, Offer, Price,
  BidSize, Volume, OfferSize FROM read_csv('${csv.replaceAll("'", "''")}', header = true)`);

let sql, reps;
if (workload === 'ohlc') {
  const [begin, end] = rest.slice(0, 2).map((s) => Number(s) * 1000);
  reps = Number(rest[2]);
  sql = `SELECT Date, (ms - ${begin}) // 60000 AS slot, arg_min(Price, ms * 100000000 + ID) AS o, max(Price) AS h,
    min(Price) AS l, arg_max(Price, ms * 100000000 + ID) AS c, max(Volume) - min(Volume) AS v
    FROM ticks WHERE ms >= ${begin} AND ms <= ${end} GROUP BY Date, slot ORDER BY Date, slot`;
} else if (workload === 'changes') {
  reps = Number(rest[0]);
  sql = `SELECT Date, ms, Bid, Offer, Price, BidSize, OfferSize, Volume FROM (
    SELECT *, lag(Price, 1, 0.0) OVER (ORDER BY Date, ms, ID) AS prev FROM ticks) WHERE Price <> prev
    ORDER BY Date, ms, ID`;
} else {
  throw new Error(`unknown workload ${workload}`);
}

const times = [];
for (let i = 0; i <= reps; i++) {
  const start = process.hrtime.bigint();
  const reader = await con.runAndReadAll(sql);
  reader.getRows();
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  if (i > 0) times.push(seconds);
}
times.sort((a, b) => a - b);
const median = times.length % 2 ? times[(times.length - 1) / 2] : (times[times.length / 2 - 1] + times[times.length / 2]) / 2;
console.log(`median=${median.toFixed(6)} min=${times[0].toFixed(6)} max=${times[times.length - 1].toFixed(6)}`);
