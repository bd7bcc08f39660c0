// Packs a bundle directory with the pinned packer, reproducibly: the packer stamps every zip
// entry with the current time, so the clock it reads is set to SOURCE_DATE_EPOCH (the commit's
// time) first. Entries come in name order and keep their permission bits.
//
//   SOURCE_DATE_EPOCH=SECONDS node tools/mcpb/pack.mjs DIR OUT.mcpb
const seconds = Number(process.env.SOURCE_DATE_EPOCH);
if (!Number.isInteger(seconds) || seconds < 315532800) {
  // A zip time starts in 1980.
  console.error('pack.mjs: set SOURCE_DATE_EPOCH to a time after 1980');
  process.exit(2);
}
if (process.env.TZ !== 'UTC') {
  // Zip times are local times.
  console.error('pack.mjs: run with TZ=UTC');
  process.exit(2);
}
const RealDate = Date;
globalThis.Date = class extends RealDate {
  constructor(...args) {
    if (args.length) super(...args);
    else super(seconds * 1000);
  }
  static now() {
    return seconds * 1000;
  }
};
const { packExtension } = await import('@anthropic-ai/mcpb');
const [dir, out] = process.argv.slice(2);
if (!(await packExtension({ extensionPath: dir, outputPath: out, silent: true }))) {
  console.error(`pack.mjs: packing ${dir} failed`);
  process.exit(1);
}
