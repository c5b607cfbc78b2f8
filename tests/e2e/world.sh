# Shared pieces of the scripts that run inside the simulated world (scripts/sandbox), as root,
# with the world's variables set. Sourced, never run.

# Every network service's proxy settings as the stand-in reports them, one line per setting
# ("Wi-Fi web: on 127.0.0.1:7890", "Wi-Fi web: off" when it names no server): what the
# application must leave as it found it.
proxy_settings() {
    local service kind
    networksetup -listallnetworkservices | tail -n +2 | sed 's/^\*//' | while IFS= read -r service; do
        for kind in web secureweb socksfirewall; do
            networksetup "-get${kind}proxy" "$service" | awk -v name="$service $kind" -F': ' '
                $1 == "Enabled" { state = ($2 == "Yes") ? "on" : "off" }
                $1 == "Server" { server = $2 }
                $1 == "Port" { port = $2 }
                END { print name ": " state (server == "" ? "" : " " server ":" port) }'
        done
        networksetup -getproxybypassdomains "$service" | tr '\n' ' ' | sed "s|^|$service bypass: |;s/ $//"
        echo
        networksetup -getautoproxyurl "$service" | tr '\n' ' ' | sed "s|^|$service auto proxy: |;s/ $//"
        echo
        networksetup -getproxyautodiscovery "$service" | sed "s|^|$service |"
    done
}

# Whether the settings $2 are those of $1 as the application restores them: line for line
# the same, except that an endpoint that was off and named no server may name one now (the
# tool cannot clear a server, so switching the endpoint off is all a restore can do for it).
same_proxy_settings() {
    paste -d '\n' <(echo "$1") <(echo "$2") | awk '
        NR % 2 == 1 { before = $0; next }
        $0 == before { next }
        before ~ /: off$/ && index($0, before " ") == 1 { next }
        { bad = 1 }
        END { exit bad }' && [ "$(echo "$1" | wc -l)" = "$(echo "$2" | wc -l)" ]
}

# A private X server for the application (the world's /tmp and network namespace keep it
# private, so it needs no access control) with a system tray; prints its display name.
start_display() {
    local display=:77
    Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -ac >"$VEYRA_WORLD_DIR/logs/xvfb.log" 2>&1 &
    for _ in $(seq 1 100); do
        if [ -S /tmp/.X11-unix/X${display#:} ]; then
            # A system tray, as a desktop has: the application keeps running in it when its
            # window closes.
            DISPLAY=$display trayer --edge top --align right --widthtype pixel --width 120 \
                >"$VEYRA_WORLD_DIR/logs/trayer.log" 2>&1 &
            echo "$display"
            return 0
        fi
        sleep 0.05
    done
    echo "the private X server did not start: $(tail -n 3 "$VEYRA_WORLD_DIR/logs/xvfb.log")" >&2
    return 1
}

# Answers the simulator's admin route $1 (GET).
admin() { curl -fsS --max-time 10 "$VEYRA_SIMULATOR_ADMIN$1"; }

# The secrets the world handed out so far, one per line: session tokens (as the application
# sent them), official line addresses and their tokens, checkout page addresses.
handed_out_secrets() {
    {
        admin requests | grep -o 'Bearer [A-Za-z0-9._~+/=-]*' | cut -d' ' -f2
        admin state | grep -oE '"(subscriptionUrl|subscriptionUrlToken|paymentUrl|codeUrl)":"[^"]*"' | cut -d'"' -f4
    } | grep -v '^$' | sort -u
}

# Prints every file under the folders given after -- that holds one of the strings given
# before it, with the string's kind (never the string).
scan_for_secrets() {
    local secrets=() folders=()
    while [ "$1" != -- ]; do secrets+=("$1"); shift; done
    shift
    folders=("$@")
    local secret hits
    for secret in "${secrets[@]}"; do
        [ -n "$secret" ] || continue
        hits=$(grep -rlaF -- "$secret" "${folders[@]}" 2>/dev/null)
        [ -z "$hits" ] || echo "$hits" | sed "s|^|  holds a secret of ${#secret} characters: |"
    done
}
