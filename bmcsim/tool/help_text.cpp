#include "bmcsim/tool/bmcsim_tool.h"

namespace bmcsim {

const char* ToolHelpText() {
  return R"help(usage: bmcsim VERB DIR [ARGS...]

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
      --flash-chip N|none   the fitted flash ID chip, index 0..4 (default 1), or none
      --chip-size-code N    size code chip 4 reports (default 1)
      --chip-sector-code N  sector code chip 4 reports (default 1; 2 = 256-KiB sectors)
      --running-bank 1|2    the bank the BMC booted from; the image selector names it too
                            and the downloader the other bank (bank 2: dual-bank device IDs)
      --image-selector 1|2  the bank the next reset boots (after --running-bank)
      --bank-size N         bytes per flash bank, a multiple of 0x10000 (default 0x400000;
                            init only)
      --erase-ms N          how long an erase keeps the flash chip busy (default 0)
      --channel2 A,P        channel 2's access byte and privilege limit, volatile and
                            non-volatile alike (default 0x22,0x04)
      --channel2-volatile A,P  --channel2-nonvolatile A,P   just one of the two
      --wmi [on|off]        the host runs the Microsoft IPMI driver (--wmi alone: on; default
                            off); see "Microsoft IPMI driver" below
  reset DIR [--fw-rev XX.YY] [--boot-ms N]
                            restart the BMC: it answers nothing for N ms (default 0), then runs
                            the bank the image selector names; XX.YY is the revision of an
                            image written since the last boot (the image carries no version);
                            see "BMC reset" below
  load-sdr DIR FILE         replace the active repository by raw records (5-byte header, byte 4 =
                            body length, then the body; the layout of `ipmitool sdr dump`)
  export-sdr DIR FILE [--spared]
                            write the active (or, while the lock is held, the spared) repository
  export-flash DIR FILE [--bank 1|2] [--length N]
                            write a flash bank (default bank 1), whole or its first N bytes
  load-flash DIR FILE [--bank 1|2]
                            make a bank hold the file's bytes from its start, erased after them
                            (erase and write counts stay)
  show DIR                  the whole state as JSON (of the flash: selectors, ID chip and the
                            erase and write counts per bank, not the contents)
  fault DIR add RULE...     add a fault injection rule (see below)
  fault DIR clear           remove all rules
  log DIR [--clear]         the exchange log, one line per exchange ("REQ -> RESP",
                            "REQ -> status N" or "REQ -> status 10 (method call failed)");
                            --clear empties it after printing
  latency DIR MS            per-exchange latency in milliseconds
  send DIR HEX... [--repeat N]
                            send a request (e.g. 18 01) and print the response in hex; a transport
                            failure prints "status 9" or "status 10" and exits with 3
  serve DIR --socket PATH   be the BMC behind QEMU's ipmi-bmc-extern device, through the UNIX
                            socket PATH (Linux only); see "QEMU's external BMC" below

Fault rules: space-separated key=value pairs.
  netfn=N      network function (0x06 App, 0x08 Firmware, 0x0A Storage, 0x3E OEM); the request
               byte forms 0x18, 0x20, 0x28, 0xF8 are accepted as well
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
  flip=K[:MM]  XOR FFh (or the hex mask MM, one bit say) into data byte K (1 = the first byte
               after the completion code) of the response; a response without that byte is
               left alone
  cancel       another party reserves both repositories just before the request is handled:
               the request's reservation is gone (C5h) and an unfinished Partial Add record
               is dropped
  wmi=fail     the Microsoft IPMI driver's method call fails; the request never reaches the
               BMC. Only requests through that driver match such a rule.
Every rule that matches an exchange counts it; the effects of all rules that fire apply.

Microsoft IPMI driver (--wmi on): the sim flavour of both programs finds its Microsoft_IPMI
instance and sends every request as a RequestResponseEx call instead of through the vendor
driver, under the programs' own retry policies. The simulated provider answers:
  - CompletionCode: the BMC's completion code, so cc= rules (FFh, CEh, C5h as the real driver
    gives them under load) reach the retry policies; ResponseData: the completion code and
    the response data, never cut at 127 bytes. length=, patch= and flip= edit these bytes; an
    answer cut before its completion code has none, a failed transfer for the program.
  - status=9 (the request never arrives) and status=10 (carried out, answer lost): the driver
    waited for the BMC in vain and answers FFh without data.
  - wmi=fail, or a host whose driver was switched off meanwhile: the call fails, the program
    tears its path down (status 10 for the request) and may open it once more.
  - In-parameters not laid out as the driver takes them (request data padded to 4 bytes, then
    1, three driver values and 30 as 32-bit little-endian; DataSize the array's length; LUN 0,
    responder address 20h) or an instance path other than the instance's fail the call too.

QEMU's external BMC (serve): bmcsim listens on PATH and QEMU connects to it, e.g.
  qemu-system-x86_64 ... -chardev socket,id=c,path=PATH,reconnect=1 \
      -device ipmi-bmc-extern,id=bmc0,chardev=c -device isa-ipmi-kcs,bmc=bmc0
  - It prints "listening on PATH" once the socket takes connections (a script may wait for
    that line), serves one connection at a time and the next after a disconnect; connections
    and dropped frames are told on standard error. SIGTERM or SIGINT ends it and removes the
    socket; the state is saved after every exchange anyway. The socket is made 0600 whatever
    the umask; a connection's first 10 dropped frames get a line each, then one per 1000.
  - Every request goes through the fault rules, latency, state and exchange log as the sim
    flavour's do, so the other verbs work on DIR meanwhile. status=9 and status=10 leave the
    request unanswered: QEMU answers the host C3h (time-out) 4 seconds later. delay= answers
    late; an answer not ready before QEMU sends its next request is dropped (QEMU has given
    up on it, and the answer would stop its time-out for the next).
  - A message with a bad checksum is dropped (QEMU's time-out answers for it), one longer than
    300 bytes answered C6h. QEMU's control commands (version, capabilities, the machine's
    reset) get no answer; the machine's reset leaves the BMC running.
  - Refused: a DIR never initialised, a PATH that exists and is not a socket, a socket some
    server still listens on (a stale socket file is replaced).

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
  - Get/Set BMC Global Enables (App 2Fh/2Eh): kept in the state (default 08h: system event
    logging), back to the default on a reset; reserved bit 4 answers CCh. Under serve, a
    change of the interrupt bits (0, 1) turns QEMU's interface interrupt on or off. Get
    Message Flags (31h) answers 00h (nothing queued); Clear Message Flags (30h) accepts any.
  - Unknown commands answer C1h, a wrong request length C7h.

Firmware flash (network function 08h). Device IDs 38h, 39h, 3Ah have two banks: bank 1 at
address 0, bank 2 at the bank size; every other device ID has bank 1 only. Addresses are
4 bytes, least significant first.
  - 00h FW ID Chip, data: chip index. The fitted chip answers 00h, index, size code, sector
    code (chips 0..3 report 01h 01h); other indexes answer 00h without data. While an erase
    runs, every index answers C0h (busy): this is the erase-completion poll.
  - 01h Firmware Erase, data: address. Sets FFh over the erase unit holding the address: an
    8-KiB boot block in the first 64 KiB of a bank, a 64-KiB sector above; with chip 4 and
    sector code 2, 256-KiB sectors and no boot blocks. The chip is then busy for --erase-ms.
  - 02h Firmware Write, data: address, bytes. NOR: a write only clears bits (cell := cell AND
    byte), so unerased cells keep their zeros and the data is corrupt; the answer is 00h all
    the same, only a read-back finds it.
  - 03h Firmware Read, data: address, count (1..252). Answers the bytes.
  - Erase, write and read answer C0h while the chip is busy. Erase and write reach only the
    downloader's bank, read the whole flash; elsewhere they answer C9h. A read count of 0
    answers CCh, one above 252 CAh.
  - 04h Set Firmware Image Selector, data: 01h or 02h (that bank), 04h (the downloader's
    bank): the bank the next reset boots. 05h Get Firmware Image Selector answers 00h and
    that bank.
  - 06h Set Firmware Image Downloader Selector, data: 01h or 02h (that bank), FFh (the bank not
    running; on a single-bank device its only bank). 07h Get Firmware Image Downloader Selector
    answers the downloader's bank, the running bank and the bank's start address (4 bytes).
  - A bank the device does not have answers CCh.
Channel access (App 40h Set, 41h Get), for channel 2 only; the IPMI field layout: access byte
bits 7:6 which setting (01b non-volatile, 10b volatile), bit 5 alerting disabled, bit 4
per-message authentication disabled, bit 3 user-level authentication disabled, bits 2:0 access
mode; privilege byte bits 7:6 which setting, bits 3:0 the limit. Get answers the access byte
(bits 5:0) and the limit of the setting asked for (request byte 2 bits 7:6).
  - Any other channel, including 0Eh (this channel, the session-less system interface) and
    0Fh, answers 82h. Reserved bits set answer CCh; a selector 11b, or an access mode above 3,
    83h; a limit being set outside 1..5 CCh. Selector 00b leaves that part alone, its value
    unchecked.
BMC reset (bmcsim reset): the running bank becomes the bank the image selector names, the
downloader points at the other bank again, channel 2's volatile setting is reloaded from the
non-volatile one, a running erase stops, and the update lock with the spared repository and
the reservations are gone.
  - --boot-ms N: for N ms every request, of the sim flavour and under serve alike, is met as
    by a status=9 rule (no fault rule sees it; under serve QEMU answers C3h), as a real BMC
    says nothing for a minute or more after a cold reset. `show` gives boot_ms and
    boot_started_ms (on the monotonic clock).
  - Get Device ID then reports the revision of the bank it runs: --fw-rev when given and
    that bank was erased or written since the last boot (or its revision was never known);
    else the revision that bank last ran with (never known: the one reported before). So a
    selector that did not switch, or a fall-back to the other bank, brings its old revision
    back whatever --fw-rev says. `show` gives each bank's revision (null: never known).
)help";
}

}  // namespace bmcsim
