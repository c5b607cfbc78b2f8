# Shared pieces of the scripts that run inside the simulated world (scripts/sandbox), as root,
# with the world's variables set. Sourced, never run.

# The system proxy settings the application must leave as it found them, as the world's own
# tools read them: on a desktop the user's whole dconf database and kioslaverc (with a digest of
# its bytes, which the text alone would not show), elsewhere every network service's settings.
proxy_settings() {
    if [ "$VEYRA_WORLD_KIND" = desktop ]; then desktop_settings; else network_service_settings; fi
}

desktop_settings() {
    echo "dconf dump / (GNOME):"
    $VEYRA_RUN_AS_USER dconf dump / | sed 's/^/  /'
    echo "$VEYRA_KIOSLAVERC (KDE), sha256 $(sha256sum <"$VEYRA_KIOSLAVERC" | cut -d' ' -f1):"
    sed 's/^/  /' "$VEYRA_KIOSLAVERC"
}

# Every network service's proxy settings as the stand-in reports them, one line per setting
# ("Wi-Fi web: on 127.0.0.1:7890", "Wi-Fi web: off" when it names no server).
network_service_settings() {
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

# Whether the settings $2 are those of $1 as the application restores them. A desktop's are the
# same to the byte. The stand-in's are line for line the same, except that an endpoint that was
# off and named no server may name one now (the tool cannot clear a server, so switching the
# endpoint off is all a restore can do for it).
same_proxy_settings() {
    if [ "$VEYRA_WORLD_KIND" = desktop ]; then
        [ -n "$1" ] && [ "$1" = "$2" ]
        return
    fi
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

# A real browser as the world's user on the desktop $1 (GNOME or KDE), headless and with no proxy
# option of its own, loads $2; whatever proxy it takes it found in that desktop's settings. It
# trusts the world's authority through the user's own certificate database, as a person would
# add it. Prints the page's DOM.
browser_load() {
    local desktop=$1 url=$2 profile
    if [ ! -d "$VEYRA_USER_HOME/.pki/nssdb" ]; then
        $VEYRA_RUN_AS_USER mkdir -p "$VEYRA_USER_HOME/.pki/nssdb"
        $VEYRA_RUN_AS_USER certutil -d "sql:$VEYRA_USER_HOME/.pki/nssdb" -N --empty-password
        $VEYRA_RUN_AS_USER certutil -d "sql:$VEYRA_USER_HOME/.pki/nssdb" -A -t C,, -n "Veyra world" <"$VEYRA_CA_CERT"
    fi
    profile=$($VEYRA_RUN_AS_USER mktemp -d /tmp/veyra-browser.XXXXXX)
    XDG_CURRENT_DESKTOP=$desktop KDE_SESSION_VERSION=5 timeout 60 $VEYRA_RUN_AS_USER chromium --headless \
        --disable-gpu --no-first-run --password-store=basic --user-data-dir="$profile" --dump-dom "$url" 2>>"$VEYRA_WORLD_DIR/logs/chromium.log"
    rm -rf "$profile"
}

# How often the line's nodes connected to the host $1 on port 443 so far, by name or address
# (the kernel may resolve the name itself).
node_connections_to() {
    local address
    address=$(getent ahostsv4 "$1" | awk 'NR == 1 {print $1}')
    admin node-connections | grep -oE "\"target\":\"($1|$address):443\"" | wc -l
}

# Loads a page of the world's site in the browser on each desktop and says whether the request
# reached the site and whether it came through the line; $1 ("line" or "direct") is what is
# wanted. The page carries a query of its own, so the site's record of it is this load's.
browser_road() {
    local wanted=$1 desktop site host probe before after arrived through status=0
    site=${VEYRA_SITE_URLS#* }
    site=${site%% *}
    host=${site#https://}
    host=${host%/}
    for desktop in GNOME KDE; do
        probe=browser-$desktop-$wanted-$RANDOM$RANDOM
        before=$(node_connections_to "$host")
        browser_load "$desktop" "$site?probe=$probe" >"$VEYRA_WORLD_DIR/logs/chromium-$probe.html" || true
        after=$(node_connections_to "$host")
        arrived=no through=direct
        admin requests | grep -q "probe=$probe" && arrived=yes
        [ "$after" -gt "$before" ] && through=line
        echo "chromium, XDG_CURRENT_DESKTOP=$desktop: ${site}?probe=… reached the site: $arrived; the line's nodes connected to $host:443 $((after - before)) times → $through"
        [ "$arrived" = yes ] && [ "$through" = "$wanted" ] || status=1
    done
    return "$status"
}
