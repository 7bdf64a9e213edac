#include "benchcommands.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command
{
    const char *name;
    int (*run)(int, char **);
    const char *usage;
};

constexpr Command commands[] = {
    {"stats", benchStats, "stats HOME [--repeat N] [--baseline]"},
    {"cycles", benchCycles, "cycles HOME [--repeat N]"},
    {"tail", benchTail, "tail HOME [--size-mb M] [--repeat N] [--subagent-files K] [--sessions K]"},
    {"generate", benchGenerate, "generate DIR --size-mb M [--subagents K] [--small-subagents K] [--seed S] "
                                "[--idle-sessions N [--shortened]] [--project-folders F]"},
    {"scan", benchScan, "scan FILE... [--repeat N] [--filter portable|sse2|avx2|avx512]"},
    {"segments", benchSegments, "segments"},
    {"plan", benchPlan, "plan HOME --usage-url URL [--wait-scale F]"},
    {"panel", benchPanel, "panel"},
    {"idle", benchIdle, "idle SECONDS"},
    {"render", benchRender, "render HOME OUT.png|--tooltip AREA|--describe|--history OUT.png [--mode session|plan] [--weekly] "
                          "[--step N] [--dpr N] [--report FILE] [--report-age MINUTES] [--failure REASON[:DETAIL]] [--fetching] "
                          "[--pinned] [--samples FOLDER] [--status-line-only] [--state FOLDER] [--size WIDTHxHEIGHT] [--tray SIZE]"},
    {"statusline", benchStatusLine, "statusline [--repeat N] [--bridge PATH]"},
};

int usage()
{
    std::fprintf(stderr, "usage: glimmerox-bench COMMAND ...\n");
    for (const Command &command : commands)
        std::fprintf(stderr, "  %s\n", command.usage);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    for (const Command &command : commands) {
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(argc - 1, argv + 1);
    }
    return usage();
}
