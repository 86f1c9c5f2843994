# Sourced by the scripts of this folder, so that no failure ends one of them silently: each says in
# one line on standard error what failed and what to do, before the script exits.

# step WHAT ADVICE COMMAND...: runs COMMAND; when it fails, tells that WHAT failed and ADVICE, and
# ends the script with COMMAND's exit status.
step() {
    local what=$1 advice=$2 status=0
    shift 2
    "$@" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "$(basename "$0"): $what failed (exit $status); $advice" >&2
        exit "$status"
    fi
}

# call SCRIPT ARGS...: runs another script of this folder, which tells its own failure; this one then
# ends with the same status without repeating it.
call() {
    bash "$(dirname "${BASH_SOURCE[0]}")/$1" "${@:2}" || exit $?
}

# Anything else that fails: the command, its line and its status.
trap 'failed_status=$?; echo "$(basename "$0"): \"$BASH_COMMAND\" failed (line $LINENO, exit $failed_status); see the messages above, mend the cause and run it again" >&2' ERR
