#include "bmcsim/tool/bmcsim_tool.h"

namespace bmcsim {

const char* ToolHelpText() {
  return R"(usage: bmcsim VERB DIR [ARGS...]

A simulated BMC whose state lives in the directory DIR. Numbers are decimal or 0x-hex.

  init DIR [OPTIONS]        create the directory if needed and start a fresh BMC there
  set DIR [OPTIONS]         change identity or settings, keeping everything else
      --device-id N  --device-rev N  --ipmi-version N  --support N (additional device support)
      --fw-rev XX.YY        the two firmware revision bytes in hex
      --manufacturer N      24 bits;   --product-id N  16 bits
      --no-aux              Get Device ID answers 14 bytes (no auxiliary firmware revision)
      --aux HEX             the 4 auxiliary firmware revision bytes (18-byte answers)
      --capacity N          bytes of record area per repository (default 65535; may exceed 64 KiB)
      --erase-polls N       status polls a spared erase takes (default 3; 0 = done at start)
      --latency MS          sleep after every exchange
      --oem-e0 HEX          the 3 bytes OEM command E0h answers (default 000000)
  load-sdr DIR FILE         replace the active repository by raw records (5-byte header, byte 4 =
                            body length, then the body; the layout of `ipmitool sdr dump`)
  export-sdr DIR FILE [--spared]
                            write the active (or, while the lock is held, the spared) repository
  show DIR                  the whole state as JSON
  fault DIR add RULE...     add a fault injection rule (see below)
  fault DIR clear           remove all rules
  log DIR [--clear]         the exchange log, one line per exchange ("REQ -> RESP" or
                            "REQ -> status N"); --clear empties it after printing
  latency DIR MS            per-exchange latency in milliseconds
  send DIR HEX... [--repeat N]
                            send a request (e.g. 18 01) and print the response in hex; a transport
                            failure prints "status 9" or "status 10" and exits with 3

Fault rules: space-separated key=value pairs.
  netfn=N      network function (0x06 App, 0x0A Storage, 0x3E OEM); the request byte forms
               0x18, 0x28, 0xF8 are accepted as well
  cmd=N        command
  match=HEX    optional: the request data must start with these bytes
  skip=N       matching exchanges to let pass first (default 0)
  count=N      matching exchanges to hit after that (default 1), or count=always
and exactly one effect:
  cc=N         answer completion code N without data; the request is not carried out
  status=9     the device cannot be reached; the request never arrives
  status=10    the transfer fails; the request IS carried out, its answer is lost
  length=N     cut the response to N bytes (or pad it with zeros to N)
  delay=MS     answer MS milliseconds late
  patch=OFFSET:HEX
               overwrite response bytes from OFFSET (byte 0 = network function), extending
               the response if needed; e.g. patch=3:0200 on Get SDR points the next record
               ID back at record 2
  cancel       another party reserves both repositories just before the request is handled:
               the request's reservation is gone (C5h) and an unfinished Partial Add record
               is dropped
Every rule that matches an exchange counts it; the effects of all rules that fire apply.

BMC behaviour where IPMI leaves room:
  - Reservations: one for the active and one for the spared repository; a new one cancels the
    old (C5h). 0000h is accepted only by Get SDR at offset 0. Releasing the lock cancels them.
  - Get SDR: record 0000h is the first, FFFFh the last; a missing record answers CBh, an
    offset or count beyond the record's end CAh; count FFh reads to the end of the record.
  - Update lock (OEM 10h): mode 0 takes it (again, if held) and starts the spared repository
    as a copy of the active one; mode 2 makes the spared repository the active one, mode 1
    discards it; releasing a lock that is not held answers D5h.
  - Spared Reserve/Get/Partial Add/Erase without the lock answer D5h; Get and Partial Add
    also while an erase is in progress.
  - Partial Add: record ID 0000h at offset 0 starts a record and the BMC assigns its ID;
    later chunks must name that ID (CBh otherwise) and continue at the byte where the last
    ended (CCh otherwise); a body longer or shorter than the header's length answers 80h and
    drops the record; a record beyond the capacity answers C4h.
  - Erase (OEM 14h): start AAh clears at once and reports 00h (in progress) until the last of
    the configured status polls (op 00h), which reports 01h (completed).
  - Timestamps follow the wall clock but move forward by at least 1 on every change.
  - Unknown commands answer C1h, a wrong request length C7h.
)";
}

}  // namespace bmcsim
