// Turns the raw measurements of run.sh into the table of medians and ratios, checks the goals,
// and writes the chart's data.
//   node report.mjs RESULTS QUICK LISTS CALLS MACHINE OUTDIR
import fs from "node:fs";
import path from "node:path";

const [results, quick, lists, calls, machine, outdir] = process.argv.slice(2);
const read = (name) => JSON.parse(fs.readFileSync(path.join(results, name), "utf8"));
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};
// Whole-process medians from hyperfine, in microseconds: [quorvi, baseline].
const timed = (name) => read(`${name}.json`).results.map((result) => median(result.times) * 1e6);
const driven = (name) => read(`${name}.json`);
const rss = (name) => Number(fs.readFileSync(path.join(results, `${name}.rss`), "utf8")) / 1024;

const time = (us) => (us >= 1e5 ? `${(us / 1e3).toFixed(0)} ms` : us >= 1e3 ? `${(us / 1e3).toFixed(2)} ms` : `${us.toFixed(1)} µs`);
const rate = (perSecond) => `${Math.round(perSecond).toLocaleString("en-US")}/s`;

const rows = [];
const chart = [];
function slower(label, name, goal) {
  const [quorvi, floor] = timed(name);
  const ratio = quorvi / floor;
  rows.push([label, time(quorvi), time(floor), `${ratio.toFixed(2)}x`, `<= ${goal}x`, ratio <= goal]);
  chart.push([label, floor, quorvi, NaN]);
}
function faster(label, name, count, goal) {
  const ours = driven(`${name}-quorvi`), theirs = driven(`${name}-peer`);
  for (const run of [ours, theirs]) {
    if (run.errors.some((errors) => errors > 0)) throw new Error(`${name}: answers carried errors`);
  }
  const ourRate = count / (median(ours.work_us) / 1e6), theirRate = count / (median(theirs.work_us) / 1e6);
  const ratio = ourRate / theirRate;
  rows.push([label, rate(ourRate), `${rate(theirRate)} (peer)`, `${ratio.toFixed(1)}x`, `>= ${goal}x`, ratio >= goal]);
  chart.push([label, NaN, 1e6 / ourRate, 1e6 / theirRate]);
}

slower("`quorvi --help`", "help", 1.5);
slower("`quorvi new hello` (no-op opener)", "new", 1.3);
slower("`quorvi request search '{}'`", "request", 1.5);
slower("10,000 pipelined `ping`", "ping", 3);
faster(`${Number(lists).toLocaleString("en-US")} \`tools/list\``, "list", Number(lists), 10);
faster(`${Number(calls).toLocaleString("en-US")} \`tools/call quorvi_read\``, "call", Number(calls), 3);
if (fs.existsSync(path.join(results, "call-modern.json"))) {
  // A call of the stateless revision may cost more than one of the session by no more than its
  // extra bytes: processor time per call, against the bytes of request and answer.
  const modern = driven("call-modern"), legacy = driven("call-quorvi");
  if (modern.errors.some((errors) => errors > 0)) throw new Error("call-modern: answers carried errors");
  const [legacyBytes, modernBytes] = fs.readFileSync(path.join(results, "call-bytes"), "utf8").trim().split(" ").map(Number);
  const [ours, base] = [modern, legacy].map((run) => median(run.cpu_us) / Number(calls));
  const ratio = ours / base, goal = modernBytes / legacyBytes;
  rows.push(["`tools/call quorvi_read`, 2026-07-28 against 2025-11-25, processor time", time(ours), time(base),
    `${ratio.toFixed(2)}x`, `<= ${goal.toFixed(2)}x (bytes ${modernBytes}/${legacyBytes})`, ratio <= goal]);
}
for (const [label, name] of [["`quorvi_attach`, 1 MiB line", "attach"], ["`quorvi_read_attachment`, 8 MiB frame", "read_attachment"]]) {
  slower(label, name, 10);
  const peak = rss(name);
  rows.push([`${label}: peak RSS`, `${peak.toFixed(1)} MiB`, "", "", "<= 48 MiB", peak <= 48]);
}
{
  const ours = median([...driven("list-quorvi").init_us, ...driven("call-quorvi").init_us]);
  const theirs = median([...driven("list-peer").init_us, ...driven("call-peer").init_us]);
  const ratio = theirs / ours;
  rows.push(["start to `initialize` answer", time(ours), `${time(theirs)} (peer)`, `${ratio.toFixed(1)}x faster`, ">= 20x", ratio >= 20]);
  chart.push(["start to initialize", NaN, ours, theirs]);
}

const quickRun = quick === "1";
const table = [
  "| scenario | quorvi | baseline | ratio | goal | met |",
  "|---|---|---|---|---|---|",
  ...rows.filter((row) => row[1] !== "").map(([label, ours, base, ratio, goal, met]) =>
    `| ${label} | ${ours} | ${base} | ${ratio} | ${goal} | ${quickRun ? "(quick)" : met ? "yes" : "**no**"} |`),
].join("\n");
// Processor time of the whole server session (start-up included), which a busy machine
// distorts less than the wall clock.
const cpu = [["list", Number(lists)], ["call", Number(calls)]].map(([name, count]) => {
  const ours = median(driven(`${name}-quorvi`).cpu_us), theirs = median(driven(`${name}-peer`).cpu_us);
  return `${name === "list" ? "tools/list" : "tools/call"} ${time(ours / count)} against ${time(theirs / count)} (${(theirs / ours).toFixed(1)}x)`;
});
// One connector answer by shape and size: peak memory against three times the answer and 4 MB,
// and the time of the whole run, against 0.3 s for an answer of 8 MiB.
let answers = "";
const answersFile = path.join(results, "answers.txt");
if (fs.existsSync(answersFile)) {
  const mb = (bytes) => `${(bytes / 1e6).toFixed(1)} MB`;
  const lines = fs.readFileSync(answersFile, "utf8").trim().split("\n").map((line) => line.split(" "));
  const answerRows = lines.map(([shape, bytes, command, kib, seconds]) => {
    const size = Number(bytes), peak = Number(kib) * 1024, limit = 3 * size + 4e6;
    const met = peak <= limit;
    rows.push([`${command}, ${shape} answer`, "", "", "", "", met]);
    return `| \`${command}\` | ${shape} | ${mb(size)} | ${mb(peak)} | ${(peak / size).toFixed(2)}x | ${mb(limit)} | ` +
      `${Number(seconds).toFixed(2)} s | ${(Number(seconds) / (size / 1048576)).toFixed(3)} s | ${quick === "1" ? "(quick)" : met ? "yes" : "**no**"} |`;
  });
  answers = "\n\nOne connector answer of each shape and size (escaped: a note text of quotation marks and line " +
    "feeds; repeated: 1.4 million `\"a\":0` members; reversed: distinct names in descending order; nested: 126 " +
    "levels whose members are out of order around one long string; objects: `[{},...]`; error: a failure " +
    "whose message is the whole answer; error-escaped: the same of quotation marks and line feeds; error-first: " +
    "`{\"error\":0,\"result\":[1,1,...]}`). Peak RSS is the highest " +
    "of the runs, time the lowest; the goal is a peak of at most 3 times the answer and 4 MB, and about 0.3 s for " +
    "8 MiB.\n\n| command | answer | size | peak RSS | ratio to answer | goal | time | per MiB | met |\n" +
    "|---|---|---|---|---|---|---|---|---|\n" + answerRows.join("\n");
}
const text = `${table}${answers}\n\nMedians; throughput rows count answered requests per second after the handshake.\n` +
  `Processor time per request of the server process, start-up included, quorvi against the peer: ${cpu.join("; ")}.\n` +
  `Machine: ${machine}.\n`;
process.stdout.write(text);

if (!quickRun) {
  fs.mkdirSync(outdir, { recursive: true });
  fs.writeFileSync(path.join(outdir, "latest.md"), text);
  const cell = (value) => (Number.isNaN(value) ? "-" : value.toFixed(2));
  fs.writeFileSync(path.join(outdir, "chart.dat"),
    "# scenario floor quorvi peer (microseconds per run, or per request for the throughput rows)\n" +
    chart.map(([label, ...values]) => `"${label.replaceAll("`", "")}" ${values.map(cell).join(" ")}`).join("\n") + "\n");
}
process.exitCode = quickRun || rows.every((row) => row[5]) ? 0 : 1;
