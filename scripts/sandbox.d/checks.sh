# Sourced by scripts/sandbox --check inside the world: checks each piece of it and prints one
# line per piece, "ok" with what was found or "FAIL" with why. The world's settings and helpers
# (wait_until, gone, the host names, $as_user, ...) come from scripts/sandbox.
# shellcheck shell=bash disable=SC2154,SC2016

check_world() {
    failures=0
    check "network" check_network
    check "names" check_names
    check "service over TLS" check_service
    check "connectivity check" check_check_host
    check "web site" check_site
    check "official line" check_line
    if [ "$SANDBOX_DESKTOP" = 1 ]; then
        check "desktop settings" check_desktop_settings
    else
        check "networksetup" check_networksetup
    fi
    check "keyring" check_keyring
    check "notifications" check_notifications
    check "application" check_application
    if [ "$SANDBOX_DESKTOP" = 0 ]; then
        check "helper" check_helper
        check "helper for the app" check_helper_serves_application
    fi
    [ "$failures" = 0 ] || exit 1
}

# Runs one check; it prints what it found on success and why it failed otherwise.
check() {
    local name=$1 detail status=0
    detail=$("$2" 2>&1) || status=$?
    if [ "$status" = 0 ]; then
        printf 'ok    %-20s %s\n' "$name" "$detail"
    else
        printf 'FAIL  %-20s %s\n' "$name" "${detail//$'\n'/ }"
        failures=$((failures + 1))
    fi
}

# curl as the world's programs use it: the system's certificates, every check on.
fetch() { curl --silent --show-error --max-time 10 "$@"; }

check_network() {
    local addresses routes
    addresses=$(ip -4 -o address show | awk '{print $4}' | tr '\n' ' ')
    routes=$(ip route show default; ip -6 route show default)
    [ -z "$routes" ] || { echo "a default route exists: $routes"; return 1; }
    [ "$(ip -o link show | wc -l)" = 1 ] || { echo "more than loopback: $(ip -o link show | cut -d: -f2)"; return 1; }
    echo "loopback only, no route out; ${addresses% }"
}

check_names() {
    local name got listed=()
    for name in "$service_host" "$(line_host)" "$(checkout_host)" "$check_host" "${site_hosts[@]}"; do
        got=$(getent ahostsv4 "$name" | awk 'NR==1 {print $1}')
        [ -n "$got" ] || { echo "$name does not resolve"; return 1; }
        listed+=("$name=$got")
    done
    echo "${listed[*]}"
}

check_service() {
    local status
    status=$(fetch -o /dev/null -w '%{http_code}' "https://$service_host/api/v1/plans") || return 1
    [ "$status" = 200 ] || { echo "GET /api/v1/plans answered $status"; return 1; }
    echo "https://$service_host/api/v1/plans answered 200 with the certificate checked against the system's store"
}

check_check_host() {
    local status
    status=$(fetch -o /dev/null -w '%{http_code}' "https://$check_host/generate_204") || return 1
    [ "$status" = 204 ] || { echo "answered $status"; return 1; }
    echo "https://$check_host/generate_204 answered 204"
}

check_site() {
    local size
    size=$(fetch "https://${site_hosts[0]}/bytes/1048576" | wc -c)
    [ "$size" = 1048576 ] || { echo "/bytes/1048576 gave $size bytes"; return 1; }
    fetch "https://${site_hosts[0]}/" | grep -q "Welcome to ${site_hosts[0]}" || { echo "no home page"; return 1; }
    echo "https://${site_hosts[0]}/ serves its page and 1048576 bytes from /bytes/1048576"
}

# A member's official line from the subscription host, then a web site through its first node.
check_line() {
    local reply url line port nodes
    reply=$(fetch -X POST -H 'Content-Type: application/json' \
        -d '{"account":"13900000000","password":"sandbox-check","active":true}' "${VEYRA_SIMULATOR_ADMIN}accounts") ||
        return 1
    url=$(printf '%s' "$reply" | sed -n 's/.*"subscriptionUrl":"\([^"]*\)".*/\1/p')
    [ -n "$url" ] || { echo "no line in $reply"; return 1; }
    line=$(fetch "$url") || return 1
    nodes=$(grep -c 'type: socks5' <<<"$line")
    port=$(sed -n 's/^ *port: //p' <<<"$line" | head -n 1)
    grep -q "server: $nodes_address" <<<"$line" || { echo "nodes are not on $nodes_address"; return 1; }
    fetch -o /dev/null --proxy "socks5h://$nodes_address:$port" "https://${site_hosts[1]}/" || return 1
    echo "$nodes SOCKS5 nodes from ${url%%/sub/*}; https://${site_hosts[1]}/ fetched through $nodes_address:$port"
}

check_networksetup() {
    local listed ethernet
    listed=$("$as_user" /usr/sbin/networksetup -listallnetworkservices) || { echo "$listed"; return 1; }
    ethernet=$("$as_user" /usr/sbin/networksetup -getwebproxy Ethernet) || { echo "$ethernet"; return 1; }
    grep -q 'Server: proxy.corp.example' <<<"$ethernet" || { echo "Ethernet has no proxy: $ethernet"; return 1; }
    echo "as $user: $(tail -n +2 <<<"$listed" | paste -sd, | sed 's/,/, /g'); Ethernet's own web proxy proxy.corp.example:3128"
}

# What GNOME and KDE read as the user: the office proxy through GSettings (so dconf-service
# answers and the schemas are there) and in kioslaverc, and no networksetup to take instead.
check_desktop_settings() {
    local gnome kde
    [ ! -e /usr/sbin/networksetup ] || { echo "/usr/sbin/networksetup is there"; return 1; }
    gnome=$("$as_user" gsettings get org.gnome.system.proxy.http host) || return 1
    [ "$gnome" = "'proxy.corp.example'" ] || { echo "GNOME's http proxy is $gnome"; return 1; }
    kde=$("$as_user" kreadconfig5 --file kioslaverc --group 'Proxy Settings' --key httpProxy) || return 1
    [ "$kde" = "http://proxy.corp.example 3128" ] || { echo "KDE's http proxy is $kde"; return 1; }
    echo "as $user: GNOME's http proxy $gnome through dconf-service, KDE's \"$kde\" in $kioslaverc; no networksetup"
}

# Only the application itself may use the helper, so a stranger's connection is accepted and
# closed without a reply; it starts the helper, which must be root and pinned to the bundle.
check_helper() {
    local status=0 pid owner exe refusal
    "$as_user" curl --silent --max-time 5 --unix-socket "$helper_socket" -o /dev/null http://helper/ || status=$?
    # 52 and 56: the connection was taken and closed without a reply.
    [ "$status" = 52 ] || [ "$status" = 56 ] ||
        { echo "a connection as $user ended with curl status $status"; return 1; }
    wait_until 5 helper_running >/dev/null || { echo "no helper process after a connection"; return 1; }
    pid=$(helper_running)
    owner=$(stat -c %U "/proc/$pid")
    exe=$(readlink "/proc/$pid/exe")
    [ "$owner" = root ] || { echo "the helper runs as $owner"; return 1; }
    wait_until 5 grep -q "refused peer" "$helper_log" || { echo "no refusal logged: $(tail -n 1 "$helper_log")"; return 1; }
    refusal=$(grep "refused peer" "$helper_log" | tail -n 1)
    echo "socket-activated at $helper_socket, root, from $exe; a stranger refused (${refusal#*: })"
}

# The one peer the helper serves is the application itself. Started with a system proxy it left
# behind (its own snapshot, and Wi-Fi still pointing at its port), the application repairs
# that at start through the helper, which is the whole path: the user's process, the socket,
# the helper's checks of the peer, the tool as root.
check_helper_serves_application() {
    local data=$user_home/.local/share/VeyraNetworkAssistant off pid web
    off='{"enabled":false,"server":"","port":0}'
    /usr/sbin/networksetup -setwebproxy Wi-Fi 127.0.0.1 7890 >/dev/null
    "$as_user" mkdir -p "$data"
    printf '{"appliedPort":7890,"services":[{"service":"Wi-Fi","web":%s,"secureWeb":%s,"socks":%s,%s}]}' \
        "$off" "$off" "$off" '"bypassDomains":[],"autoProxyURL":"","autoProxyEnabled":false,"autoDiscoveryEnabled":false' |
        "$as_user" sh -c 'umask 077 && cat >"$1"' - "$data/proxy-backup-v2.json"
    "$as_user" env QT_QPA_PLATFORM=offscreen "$VEYRA_APP" </dev/null >"$world/logs/check-application.log" 2>&1 &
    pid=$!
    wait_until 20 wifi_web_proxy_off || true
    kill -TERM "$pid" 2>/dev/null || true
    wait_until 10 gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
    web=$(/usr/sbin/networksetup -getwebproxy Wi-Fi | head -n 1)
    if [ "$web" != "Enabled: No" ]; then
        echo "Wi-Fi still points at the application's port; the helper said: $(tail -n 1 "$helper_log")"
        return 1
    fi
    echo "the application (as $user) restored Wi-Fi's proxy through the helper at start"
}

wifi_web_proxy_off() {
    [ "$(/usr/sbin/networksetup -getwebproxy Wi-Fi | head -n 1)" = "Enabled: No" ]
}

helper_running() {
    local entry
    for entry in /proc/[0-9]*; do
        if [ "$(readlink "$entry/exe" 2>/dev/null)" = "/opt/$bundle_name/Contents/MacOS/VeyraProxyHelper" ]; then
            echo "${entry#/proc/}"
            return 0
        fi
    done
    return 1
}

check_keyring() {
    local secret=sandbox-check-$$ found
    printf '%s' "$secret" | "$as_user" secret-tool store --label="sandbox check" service veyra-sandbox account check ||
        return 1
    found=$("$as_user" secret-tool lookup service veyra-sandbox account check) || return 1
    [ "$found" = "$secret" ] || { echo "stored $secret, found $found"; return 1; }
    "$as_user" secret-tool clear service veyra-sandbox account check
    echo "as $user on $session_bus: stored, found and cleared a secret in the unlocked default collection"
}

check_notifications() {
    local reply
    reply=$("$as_user" dbus-send --session --print-reply --dest=org.freedesktop.Notifications \
        /org/freedesktop/Notifications org.freedesktop.Notifications.GetServerInformation) || return 1
    grep -q "sandbox notification server" <<<"$reply" || { echo "$reply"; return 1; }
    echo "org.freedesktop.Notifications answers as $user; notifications are written to $notifications"
}

check_application() {
    local dir
    for dir in "$VEYRA_BUNDLE" "$VEYRA_BUNDLE/Contents" "$VEYRA_BUNDLE/Contents/MacOS" "$VEYRA_APP"; do
        if [ "$(stat -c %u "$dir")" != 0 ] || [ $(($(stat -c '0%a' "$dir") & 022)) != 0 ]; then
            echo "$dir is not root's alone"
            return 1
        fi
    done
    "$as_user" test -x "$VEYRA_APP" || { echo "$user cannot run $VEYRA_APP"; return 1; }
    "$as_user" sh -c 'test -w "$HOME" && test "$(stat -c %U "$HOME")" = "$USER"' ||
        { echo "$user's home is not its own"; return 1; }
    echo "$VEYRA_APP (root-owned bundle) runs as $user with home $user_home"
}
