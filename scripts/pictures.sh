#!/usr/bin/env bash
# Draws the pictures in docs/ again, after a visual change, from homes made by hand in a temporary
# folder; the real home, runtime and state folders are never read or written.
#
#   scripts/pictures.sh [BUILD_DIR]    (default build-tests; needs glimmerox-bench and glimmerox-statusline)
#
# The panel reads the real clock, so resets and times are set relative to now: countdowns and the
# time in the pace caption differ from run to run, everything else is fixed. ImageMagick's
# `convert` puts the tray icons side by side; the screenshot of the running window also needs
# Xvfb, xdotool and ImageMagick's `import`, and is left as it is without them.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-tests}" && pwd)
bench=$build/bench/glimmerox-bench
bridge=$build/src/app/glimmerox-statusline
docs=$root/docs
tmp=$(mktemp -d)
pids='' # the X server and the panel of the screenshot, ended however the script ends
trap 'kill $pids 2> /dev/null; rm -rf "$tmp"' EXIT
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_STATE_HOME=$tmp/state XDG_CONFIG_HOME=$tmp/config
export QT_QPA_PLATFORM=offscreen TZ=UTC LC_ALL=C
unset CLAUDE_CONFIG_DIR
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
now=$(date +%s)

# An awk function: epoch seconds to the ISO 8601 UTC time Claude Code writes.
iso_awk='function iso(t,  s, z, era, doe, yoe, y, doy, mp, m) {
    s = t % 86400; z = (t - s) / 86400 + 719468; era = int(z / 146097); doe = z - era * 146097
    yoe = int((doe - int(doe / 1460) + int(doe / 36524) - int(doe / 146096)) / 365)
    doy = doe - (365 * yoe + int(yoe / 4) - int(yoe / 100)); mp = int((5 * doy + 2) / 153)
    m = mp < 10 ? mp + 3 : mp - 9; y = yoe + era * 400 + (m <= 2)
    return sprintf("%04d-%02d-%02dT%02d:%02d:%02d.000Z", y, m, doy - int((153 * mp + 2) / 5) + 1,
                   int(s / 3600), int(s % 3600 / 60), s % 60)
}'
# iso SECONDS: the time that many seconds from now.
iso() { awk -v t=$((now + $1)) "$iso_awk"' BEGIN { print iso(t) }'; }

# session HOME CWD ID CALLS CONTEXT: a live session (this shell is its process) with one model call
# every 3 minutes up to a minute ago, the context rising to CONTEXT tokens (plus 1,200 output), with
# a compaction two thirds of the way.
session() {
    local data=$1/.claude project
    project=$(printf %s "$2" | tr -c 'A-Za-z0-9' '-')
    mkdir -p "$data/sessions" "$data/projects/$project"
    printf '{"pid":%d,"sessionId":"%s","cwd":"%s","startedAt":%d000}\n' $$ "$3" "$2" \
        $((now - $4 * 180 - 600)) > "$data/sessions/$3.json"
    awk -v now=$((now - 60)) -v calls="$4" -v last="$5" -v cwd="$2" -v id="$3" "$iso_awk"'
    BEGIN {
        k = int(calls * 2 / 3)
        for (i = 1; i <= calls; i++) {
            context = i <= k ? 20000 + 150000 * i / k : 30000 + (last - 30000) * (i - k) / (calls - k)
            printf "{\"parentUuid\":\"p%d\",\"isSidechain\":false,\"userType\":\"external\",\"cwd\":\"%s\","   \
                   "\"sessionId\":\"%s\",\"version\":\"2.1.251\",\"type\":\"assistant\",\"timestamp\":\"%s\","  \
                   "\"message\":{\"id\":\"msg_%d\",\"model\":\"claude-opus-4-6\",\"type\":\"message\","       \
                   "\"role\":\"assistant\",\"content\":[{\"type\":\"text\",\"text\":\"ok\"}],\"usage\":"      \
                   "{\"input_tokens\":3,\"cache_creation_input_tokens\":2000,\"cache_read_input_tokens\":%d," \
                   "\"output_tokens\":1200}},\"uuid\":\"u%d\"}\n",
                   i, cwd, id, iso(now - (calls - i) * 180), i, int(context) - 2003, i
        }
    }' > "$data/projects/$project/$3.jsonl"
}

# The main home: two live sessions, glimmerox's written last, and Claude Code's cached report:
# 5-hour 62 %, 7-day 67 %, Opus weekly 82 % (the binding one) and credits 23 %.
session "$HOME" /home/ana/notes s-notes 12 41000
touch -d "$(iso -600)" "$HOME"/.claude/projects/*/s-notes.jsonl
session "$HOME" /home/ana/glimmerox s-glimmerox 60 153589
five=$(iso $((3 * 3600 + 10 * 60 + 30))) week=$(iso $((3 * 86400 + 4 * 3600 + 5 * 60 + 30)))
cat > "$HOME/.claude.json" <<EOF
{"oauthAccount": {"accountUuid": "acc-ana"},
 "cachedUsageUtilization": {"accountUuid": "acc-ana", "fetchedAtMs": $(((now - 60) * 1000)), "utilization": {
  "five_hour": {"utilization": 62, "resets_at": "$five"},
  "seven_day": {"utilization": 67, "resets_at": "$week"},
  "limits": [{"kind": "weekly_scoped", "percent": 82, "resets_at": "$week", "scope": {"model": {"display_name": "Opus"}}}],
  "extra_usage": {"is_enabled": true, "utilization": 23}}}}
EOF

# The status line's sample of the glimmerox session, through the bridge itself (its history goes
# to a scratch folder): the prompt cache warm for 32 more minutes, the spend limit at 130 %.
samples=$XDG_RUNTIME_DIR/glimmerox
XDG_STATE_HOME=$tmp/scratch "$bridge" > /dev/null <<EOF
{"session_id": "s-glimmerox", "cwd": "/home/ana/glimmerox", "version": "2.1.251",
 "transcript_path": "$HOME/.claude/projects/-home-ana-glimmerox/s-glimmerox.jsonl",
 "model": {"id": "claude-opus-4-6", "display_name": "Opus 4.6"},
 "context_window": {"context_window_size": 200000, "used_percentage": 77},
 "prompt_cache": {"warm": true, "ttl": "1h", "expires_at": $((now + 32 * 60)), "hit_ratio": 0.96,
                  "recache_tokens_if_cold": 153589, "misses": 2},
 "rate_limits": {"spend_limit": {"used_percentage": 130}}}
EOF

# A week of plan history for the main home, ending at the cached report's figures: a working spell
# of 10 hours a day; the 5-hour window a saw-tooth, idle (no reset) overnight, its last 30 minutes a
# rush from 42 % to 62 % that runs it out before its reset; the weekly windows reset 3 d 20 h ago.
state=$XDG_STATE_HOME/glimmerox
mkdir -p -m 0700 "$state"
sum=sha256sum; command -v sha256sum > /dev/null || sum="shasum -a 256"
history=$state/history-$(printf %s "$(cd "$HOME/.claude" && pwd -P)" | $sum | cut -c1-16).jsonl
awk -v now="$now" '
function working(t) { return (t - now + 8 * 3600 + 30 * 86400) % 86400 < 36000 }
function line(window, percent, reset) {
    if (t < now - 7 * 86400 || shown[window] == percent " " reset) return
    shown[window] = percent " " reset
    printf "{\"window\":\"%s\",\"percent\":%.1f,%s\"at\":%d000,\"source\":\"statusline\"}\n", window, percent,
           reset ? "\"resetsAt\":" reset "000," : "", t
}
BEGIN {
    srand(7); reset5 = now + 11430; reset7 = now + 274530
    for (t = now - 14 * 86400; t <= now; t += 600) steps += t > reset7 - 604800 && working(t)
    for (t = now - 14 * 86400; t <= now; t += 600) {
        r5 = reset5 - 18000 * int((reset5 - t) / 18000)
        if (r5 != last5) { five = 0; last5 = r5; used = 0 }
        if (r5 == reset5)
            five = t <= now - 1800 ? 42 * (t - reset5 + 18000) / 4770 : 42 + 20 * (t - now + 1800) / 1800
        else if (working(t) && (five += rand() * 5) > 100)
            five = 100
        used = used || working(t)
        line("five_hour", five, used ? r5 : 0)
        r7 = reset7 - 604800 * int((reset7 - t) / 604800)
        if (r7 != last7) { n = 0; last7 = r7 }
        n += working(t)
        line("seven_day", r7 == reset7 ? 67 * n / steps : 71 * n / 420, r7)
        line("seven_day:Opus", r7 == reset7 ? 82 * n / steps : 49 * n / 420, r7)
    }
}' > "$history"

# A second home: one long session, 1,200 calls and past 100 million tokens in all, and no cached
# report, so that a failed fetch shows as one (fresh figures from Claude Code would stand instead).
long=$tmp/long
session "$long" /home/ana/glimmerox s-long 1200 153589

render() { local out=$1; shift; "$bench" render "$HOME" "$docs/$out" "$@" > /dev/null; }
render panel-session.png --samples "$samples"
render panel-session-1x.png --dpr 1
render panel-cache-1x.png --dpr 1 --samples "$samples"
render panel-session-total.png --weekly --pinned --samples "$samples"
render panel-plan.png --mode plan
# The run-out LED blinks on the clock's seconds, lit on even ones: start just after one begins.
until (( $(date +%s) % 2 )); do sleep 0.05; done
until (( $(date +%s) % 2 == 0 )); do sleep 0.05; done
render panel-plan-pace.png --mode plan --state "$state"
render panel-plan-weekly.png --mode plan --weekly
render panel-plan-spend.png --mode plan --weekly --step 3 --samples "$samples"
"$bench" render "$long" "$docs/panel-session-long.png" --weekly > /dev/null
"$bench" render "$long" "$docs/panel-plan-error.png" --mode plan --failure http:500 > /dev/null
"$bench" render "$HOME" --history "$docs/history.png" --state "$state" --dpr 1 > /dev/null
"$bench" segments --png "$docs/segments.png" > /dev/null

# The tray icon at 16, 22, 24 and 32 px: the context's 77 % and the Opus week's 82 % (dark on
# red from 80 %), on a dark and on a light tray.
for size in 16 22 24 32; do
    "$bench" render "$HOME" "$tmp/session-$size.png" --tray "$size" > /dev/null
    "$bench" render "$HOME" "$tmp/plan-$size.png" --tray "$size" --mode plan --weekly > /dev/null
done
icons=("$tmp"/session-{16,22,24,32}.png "$tmp"/plan-{16,22,24,32}.png)
convert \( -background '#2b2b2b' "${icons[@]}" -gravity center -extent 40x42 +append \) \
        \( -background '#ececec' "${icons[@]}" -gravity center -extent 40x42 +append \) \
        -append -strip "$docs/tray-icon-1x.png"

# The running window at 100 % on a bare X server: no window manager and no compositor, so the
# rounded corners are cut by the window mask. Kept off the session bus: no notification leaves.
if command -v Xvfb > /dev/null && command -v xdotool > /dev/null && command -v import > /dev/null; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$tmp/display" 2> /dev/null &
    pids="$pids $!"
    until [ -s "$tmp/display" ]; do sleep 0.1; done
    export DISPLAY=:$(cat "$tmp/display")
    DBUS_SESSION_BUS_ADDRESS= QT_QPA_PLATFORM=xcb "$build/src/app/glimmerox" 2> /dev/null &
    pids="$pids $!"
    window=$(timeout 30 xdotool search --sync --onlyvisible --class glimmerox | head -1)
    sleep 2 # the first statistics cycle and paint
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop $((WIDTH + 20))x$((HEIGHT + 20))+$((X - 10))+$((Y - 10)) +repage \
        "$docs/panel-window-1x.png"
fi
