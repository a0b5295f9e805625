# The second machine: our simulated BMC (bmcsim serve) behind QEMU's external-BMC device. The
# updates run for real here, as an update manager runs them, and the host checks what they left
# in the BMC's state directory: a "VMTEST HOST request" line on the console is answered with
# one line on the console's input (vm/vmtest.sh). Sourced by vm/init.sh.

# The host's answers arrive on the console; they are not to be echoed into the verdicts.
stty -echo 2>/dev/null
host() {
  echo "VMTEST HOST $*"
  read -r reply || { why="no answer from the host to '$*'"; return 1; }
  case "$reply" in
    ok*) return 0 ;;
    *) why="host: $reply"; return 1 ;;
  esac
}

# Channel 2's volatile access byte as ipmitool reads it (Get Channel Access), and the kernel
# driver's maintenance mode as its ioctl answers it (0 automatic, 2 on).
channel2() { raw 0x06 0x41 0x02 0x80 | cut -d' ' -f1; }
maintenance() { kernel_maintenance_mode 2>/dev/null || echo "?"; }
channel2_before=$(channel2)
echo "VMTEST INFO channel 2 access byte $channel2_before, maintenance mode $(maintenance)"

# manage TAG DIR RESULTS PROGRAM ARGS...: runs an update as the update manager does: the
# program in DIR, -ratio polled from a second process, the first "OK" taken away, the final
# answer kept as /tmp/TAG.xml. With WATCH set, channel 2 and the maintenance mode are sampled
# into /tmp/TAG.watch while the ratio says the flash passes run (above 5, below 100). With
# STOP_AT set, SIGTERM goes to the program once the ratio reaches it.
manage() {
  tag=$1 dir=$2 results=$3 program=$4
  shift 4
  rm -f /tmp/$tag.* $results/Update_*.xml $results/Get_ratio.xml
  (cd $dir && exec $program "$@" </dev/null >/tmp/$tag.out 2>&1) &
  pid=$!
  took=""
  stopped=""
  : >/tmp/$tag.ratios
  : >/tmp/$tag.watch
  while kill -0 $pid 2>/dev/null; do
    (cd $dir && $program -ratio </dev/null >/dev/null 2>&1)
    ratio=""
    [ "$(xml $results/Get_ratio.xml result_code)" = OK ] && ratio=$(xml $results/Get_ratio.xml data)
    [ -n "$ratio" ] && echo "$ratio" >>/tmp/$tag.ratios
    if [ -z "$took" ] && [ "$(xml $results/Update_force.xml result_code)" = OK ]; then
      rm -f $results/Update_force.xml
      took=1
    fi
    if [ -n "$WATCH" ] && [ -n "$ratio" ] && [ "$ratio" -gt 5 ] && [ "$ratio" -lt 100 ]; then
      echo "$(channel2) $(maintenance)" >>/tmp/$tag.watch
    fi
    if [ -n "$STOP_AT" ] && [ -z "$stopped" ] && [ -n "$ratio" ] && [ "$ratio" -ge "$STOP_AT" ]; then
      kill -TERM $pid
      stopped=1
    fi
    sleep 0.5
  done
  wait $pid
  echo $? >/tmp/$tag.rc
  [ -n "$took" ] && echo took >/tmp/$tag.took
  cp $results/Update_force.xml /tmp/$tag.xml 2>/dev/null
  return 0
}

# Ratios read while the update ran: some between the start and the end, never falling.
ratios_rose() { # TAG
  [ -f /tmp/$1.took ] || { why="the first OK never came"; return 1; }
  awk 'NR > 1 && $1 < last { bad = 1 } { last = $1 } $1 > 5 && $1 < 100 { mid = 1 }
       END { exit !(mid && !bad) }' /tmp/$1.ratios ||
    { why="ratios $(tr '\n' ' ' </tmp/$1.ratios)"; return 1; }
}

# While the flash passes ran: channel 2 disabled (access mode 0) with the maintenance mode on
# (a sample taken as the run ends may already see both restored); afterwards both as before.
flash_watch() { # TAG
  seen=""
  while read -r access mode; do
    case "$access" in [0-9a-f][0-9a-f]) ;; *) continue ;; esac
    [ $((0x$access & 7)) = 0 ] && [ "$mode" = 2 ] && seen=1
  done </tmp/$1.watch
  [ -n "$seen" ] ||
    { why="channel 2 / maintenance mode while flashing: $(sort -u /tmp/$1.watch | tr '\n' ';')"; return 1; }
  restored
}
restored() {
  [ "$(channel2)" = "$channel2_before" ] || { why="channel 2 access byte $(channel2), was $channel2_before"; return 1; }
  [ "$(maintenance)" = 0 ] || { why="maintenance mode $(maintenance) after the run"; return 1; }
}

# --- veltrop -update -force from a real server's SDR file, Korvane -force beside it ----------
cp /vmtest/real.sdr $sdr/real.sdr
(manage veltrop-update $sdr /pkg veltrop -update -force -sdr real.sdr) &
WATCH=1 manage korvane-force $fw $fw ./Korvane -force
wait
echo "VMTEST INFO updates ended at $(elapsed)s"

sdr_updated() {
  evidence="$sdr/veltrop.log /tmp/veltrop-update.out"
  expect_code /tmp/veltrop-update.xml Complete || return 1
  ratios_rose veltrop-update || return 1
  expect_line $sdr/veltrop.log "SDR data was successfully written!" || return 1
  rm -f /tmp/backup.bin
  veltrop_in -backup /tmp/backup.bin
  expect_line $sdr/veltrop.log "SDR backup complete." || return 1
  # The record area of the backup, as the BMC's state directory holds the repository.
  host sdr "$(tail -c +129 /tmp/backup.bin | md5sum | cut -d' ' -f1)"
}
check veltrop-update-force sdr_updated

korvane_flashed() {
  evidence="$fw/Korvane_log.txt /tmp/korvane-force.out"
  expect_code /tmp/korvane-force.xml Complete || return 1
  ratios_rose korvane-force || return 1
  flash_watch korvane-force || return 1
  # Bank 2 (the one not running) holds the image past the kept boot block and the next reset
  # boots it; channel 2 and the update lock are as before.
  host flash bmcfw.bin 2 && host state 2
}
check korvane-force-bank2 korvane_flashed

# --- Korvane -force -both, with another image -------------------------------------------------
# The tool takes the bank the image selector names for the running one (no reset came between):
# bank 1 first, then bank 2, which the selector names again at the end.
both() {
  evidence="$fw/Korvane_log.txt /tmp/korvane-both.out"
  cp /vmtest/bmcfw2.bin $fw/bmcfw.bin
  WATCH=1 manage korvane-both $fw $fw ./Korvane -force -both
  expect_code /tmp/korvane-both.xml Complete || return 1
  flash_watch korvane-both || return 1
  host flash bmcfw2.bin 1 2 && host state 2
}
check korvane-force-both both

# --- a stop request in the middle of the flash ------------------------------------------------
stop_request() {
  evidence="$fw/Korvane_log.txt /tmp/korvane-stop.out"
  cp /vmtest/bmcfw.bin $fw/bmcfw.bin
  STOP_AT=30 manage korvane-stop $fw $fw ./Korvane -force
  code=$(xml /tmp/korvane-stop.xml result_code)
  case "$code" in
    "" | OK | Complete) why="result '$code' after SIGTERM"; return 1 ;;
  esac
  echo "VMTEST INFO stopped with $code"
  [ ! -e $fw/Get_ratio.xml_tmp ] || { why="progress file left behind"; return 1; }
  restored || return 1
  # The selector still names bank 2, which -both programmed last.
  host state 2
}
check korvane-stop-request stop_request

# --- one firmware write left unanswered: QEMU's time-out reaches the tool through the kernel --
unanswered_write() {
  evidence="$fw/Korvane_log.txt /tmp/korvane-lost.out"
  host fault netfn=0x08 cmd=0x02 skip=200 count=1 status=10 || return 1
  manage korvane-lost $fw $fw ./Korvane -force
  host fault-clear || return 1
  code=$(xml /tmp/korvane-lost.xml result_code)
  echo "VMTEST INFO a lost write answer: $code"
  restored || return 1
  case "$code" in
    Complete) host flash bmcfw.bin 1 && host state 1 ;;
    "" | OK) why="no final answer"; return 1 ;;
    *) host state 2 ;;
  esac
}
check korvane-unanswered-write unanswered_write
