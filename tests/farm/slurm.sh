#!/bin/bash
# A one-node Slurm on loopback, started here and stopped here: munge,
# slurmctld and slurmd run as root with their key, configuration, state and
# logs in the scratch directory, on 127.0.0.1 only. An array job renders
# 11 frames in slices of 4 (the last one shorter): the PNGs are one run's
# byte for byte and the movie segments join into one run's movie. A slice
# that cannot write fails its array task (FAILED) naming its first file.
# morvakine-farm mends failed slices there, resumes, and says in one line
# what it cannot mend (a partition that does not exist, munge stopped).
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
missing=
for program in munged slurmctld slurmd sbatch squeue scontrol sinfo; do
    command -v $program >/dev/null || missing+=" $program"
done
if [ -n "$missing" ]; then
    echo "SKIP: no one-node Slurm here, missing$missing (apt-get install slurm-wlm munge)"
    exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: no one-node Slurm here: its daemons start as root, this is uid $(id -u)"
    exit 77
fi

# Waits (at most about a minute, which only a hang reaches) until COMMAND
# succeeds; fails at once when a daemon has died.
daemons=()
until_true() {
    local what=$1 tries=600 pid
    shift
    until "$@" >/dev/null 2>&1; do
        for pid in "${daemons[@]}"; do
            kill -0 "$pid" 2>/dev/null || { echo "$what: a daemon (pid $pid) has stopped" >&2; return 1; }
        done
        ((--tries > 0)) || { echo "$what: no answer" >&2; return 1; }
        sleep 0.1
    done
}
stop_daemons() {
    local pid
    for pid in "${daemons[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${daemons[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
# A daemon that would not start, or a check that failed, shows the last
# LINES of the daemons' and the array tasks' logs.
show_logs() {  # show_logs LINES
    local log
    for log in "$work"/slurm/*.log "$work"/slurm/*.out; do
        [ -s "$log" ] || continue
        echo "--- ${log##*/}" >&2
        tail -n "$1" "$log" >&2
    done
}
# Daemons that will not start here say nothing about the recipe: the test
# skips, saying so, with their logs' last lines above.
cannot_start() {
    show_logs 5
    echo "SKIP: no one-node Slurm here: $1 did not start (logs above)"
    exit 77
}
free_port() {
    echo 'set s [socket -server {} -myaddr 127.0.0.1 0]; puts [lindex [fconfigure $s -sockname] 2]' | tclsh
}

s=$work/slurm
mkdir -p "$s/state" "$s/spool" "$s/munge"
chmod 755 "$s/munge"
head -c 1024 /dev/urandom > "$s/munge.key"
chmod 400 "$s/munge.key"
cat > "$s/slurm.conf" <<CONF
ClusterName=morvakine
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$s/munge/socket
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
NodeName=localhost NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=2 State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$s/slurm.conf
cleanups+=(stop_daemons)

munged -F --force --socket="$s/munge/socket" --key-file="$s/munge.key" \
    --pid-file="$s/munged.pid" --log-file="$s/munged.log" --seed-file="$s/munged.seed" \
    >"$s/munged.out" 2>&1 &
daemons+=($!)
until_true "munged" test -S "$s/munge/socket" || cannot_start munged
slurmctld -D -i >"$s/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D -N localhost >"$s/slurmd.out" 2>&1 &
daemons+=($!)
until_true "the Slurm node" bash -c '[ "$(sinfo -h -n localhost -o %t)" = idle ]' ||
    cannot_start "slurmctld and slurmd"

# Submits the array job, waits until squeue no longer lists it, and writes
# "TASK STATE" for each array task to states.txt. It runs in this shell, not
# in a $(...) one, so that a signal meanwhile still stops the daemons.
run_array() {
    sbatch --parsable --array="$1" --cpus-per-task=1 --chdir="$work" \
        --output="$work/slurm/task-%a.log" "$top/farm/render-slice.sh" "${@:2}" >job.txt || return 1
    local id
    read -r id <job.txt
    until_true "array job $id" bash -c "[ -z \"\$(squeue -h -j $id 2>/dev/null)\" ]" || return 1
    scontrol -o show job "$id" >job.txt
    sed -n 's/.*\bJobState=\([A-Z_]*\).*\bArrayTaskId=\([0-9]*\).*/\2 \1/p; s/.*\bArrayTaskId=\([0-9]*\).*\bJobState=\([A-Z_]*\).*/\1 \2/p' job.txt |
        sort -n >states.txt
}
# The tasks ended as given: "0 COMPLETED" and so on, one a line.
tasks_ended() {
    [ "$(cat states.txt)" = "$(printf '%s\n' "$@")" ] || { echo "tasks:" $(cat states.txt) >&2; return 1; }
}

reference 11 mp4
check "PNG array job" run_array 0-2 11 4 out/f%05d.png --size $size
check "PNG array tasks complete" tasks_ended "0 COMPLETED" "1 COMPLETED" "2 COMPLETED"
check "PNG slices are one run's" same_frames out all
check "movie array job" run_array 0-2 11 4 parts/m%05d.mp4 --size $size
check "movie array tasks complete" tasks_ended "0 COMPLETED" "1 COMPLETED" "2 COMPLETED"
check "movie segments join into one run's movie" joined_like_one parts mp4

mkdir -p bad/f00004.png
check "array job with a failing slice" run_array 0-2 11 4 bad/f%05d.png --size $size
check "the failing slice alone fails" tasks_ended "0 COMPLETED" "1 FAILED" "2 COMPLETED"
check "the failing slice names its first file" grep -q 'bad/f00004.png": is a directory' slurm/task-1.log
check "what the slices left is whole" same_frames bad

# The farm command on the same Slurm, looking at its jobs five times a
# second, two slices at a time.
export MORVAKINE_FARM_POLL=0.2
farm_command slurm --cpus 1

# What the farm cannot mend is one line naming it, exit 1.
unmendable() {  # unmendable WHAT EXPECTED FARM-OPTIONS...
    local status=0
    "$top/farm/morvakine-farm" -o never.mp4 --engine slurm --frames 8 --slice 4 --size $size \
        "${@:3}" 2>err.txt || status=$?
    check "$1: exit 1, not $status" test $status -eq 1
    check "$1: one line" test "$(wc -l <err.txt)" -eq 1
    check "$1: the line names it" grep -qi "$2" err.txt
}
unmendable "a partition that does not exist" 'partition "nosuch"' --partition nosuch
kill "${daemons[0]}" && wait "${daemons[0]}" 2>/dev/null
unmendable "munge stopped" munge
[ "$failures" -eq 0 ] || show_logs 200
finish
