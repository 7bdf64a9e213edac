#pragma once

// Each subcommand of glimmerox-bench creates the Qt application object it needs and
// prints its figures as JSON on stdout. argv[0] is the subcommand's name.
int benchStats(int argc, char **argv);     // stats HOME [--repeat N] [--baseline]
int benchCycles(int argc, char **argv);    // cycles HOME [--repeat N]
int benchTail(int argc, char **argv);      // tail HOME [--size-mb M] [--repeat N] [--subagent-files K] [--sessions K]
int benchGenerate(int argc, char **argv);  // generate DIR --size-mb M [--subagents K] [--small-subagents K] ...
int benchScan(int argc, char **argv);      // scan FILE... [--repeat N]
int benchSegments(int argc, char **argv);  // segments
int benchPlan(int argc, char **argv);      // plan HOME --usage-url URL [--wait-scale F]
int benchPanel(int argc, char **argv);     // panel
int benchIdle(int argc, char **argv);      // idle SECONDS
int benchRender(int argc, char **argv);    // render HOME OUT.png [--mode session|plan] [--weekly] [--dpr N] [--report FILE]
int benchStatusLine(int argc, char **argv); // statusline [--repeat N] [--bridge PATH]
