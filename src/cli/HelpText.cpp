// busprobe-cli --help and --version. packaging/man/busprobe-cli.1 says the same: change both together.
#include "cli/ArgParse.h"

namespace bp::cli {

std::string versionText() { return "busprobe-cli " BUSPROBE_VERSION "\n"; }

namespace {

constexpr const char* kUsageAndOptions =
    R"(Usage: busprobe-cli [OPTION]... COMMAND [ARGUMENT]... [COMMAND [ARGUMENT]...]...
Read and write the objects of a CANopen node, transfer files, send NMT commands, scan and
dump the bus: the engine of the Busprobe window on the command line, for scripts and test
benches. The commands run in order in one process, on one open bus.

Options:
  --channel NAME   use the SocketCAN interface NAME (for example can0 or vcan0); on Windows,
                   the adapter driver library NAME (default pcan_usb.dll). Without it, the
                   first SocketCAN interface that is up is used (can* before vcan*)
  --demo           use a built-in virtual bus with a simulated node 5 serving the sample
                   EDS file, whose names and types are then known without --eds
  --node N         the node to talk to, 1 to 127 (default 5)
  --eds FILE       take object names and data types from this EDS file
  --json           print one JSON object a line for each result
  --timeout MS     wait at most MS milliseconds for each answer of the node (default 250);
                   upload and download wait at least 1000 ms, as the window's U and D do
  --continue       go on after a failed transfer (the exit status is still 1)
  --script FILE    run the commands in FILE, one a line ("#" starts a comment, "..." quotes
                   a word with blanks), where --script stands among the commands
  -h, --help       show this text and exit
  --version        show the version and exit
)";

constexpr const char* kCommandsAndMore = R"(
Commands:
  read INDEX[:SUB] [TYPE]
                   read an object and print its value as the window shows it
  write INDEX[:SUB] [TYPE] VALUE
                   write a value, checked against the type before anything is sent
  upload INDEX[:SUB] FILE
                   read an object of any size into FILE (block transfer, segmented when
                   the node refuses it)
  download INDEX[:SUB] FILE
                   write FILE (at most 16 MiB) to an object, the same way
  run LISTFILE     transfer the entries of a user SDO list file (.bin) top to bottom, each in
                   its direction (R or W), stopping at the first failure
  nmt start|stop|preop|reset|reset-comm [NODE|all]
                   send an NMT command to NODE (default --node), or to all nodes
  scan [--seconds S]
                   listen S seconds (default 1) for boot-up and heartbeat, then read object
                   0x1000 of every node 1 to 127, one request at a time; print each node
                   found with its device type
  dump [--seconds S | --frames N] [--decode]
                   print the frames on the bus as candump -l lines, for S seconds, until N
                   frames, or until interrupted (Ctrl-C ends it with status 0; the commands
                   after it do not run); --decode adds what each frame means
  dcf-save FILE    read every readable object of the EDS file (--eds; the demo node's own
                   with --demo) from the node and write them as a DCF (ParameterValue)
  dcf-diff A [B]   the objects whose values differ between DCF files A and B, or between A
                   and the node now; exit status 1 when any differ
  dcf-restore FILE [--save]
                   write the DCF's values into the node, each PDO disabled while it is
                   remapped and enabled again as it was; --save stores them (0x1010 sub 1);
                   every value is read back: exit status 1 when a write failed or any differ

INDEX is hexadecimal (0x optional); SUB is decimal, or hexadecimal after 0x (default 0).
TYPE is one of u8 u16 u32 u64 (unsigned), i8 i16 i32 i64 (signed), r32 r64 (real),
vs (visible string), os (octet string, hexadecimal byte pairs), b (boolean, 0 or 1).
Without TYPE the EDS file's type is used; a read of an object of unknown type prints its
bytes as os. Integer values are decimal, or hexadecimal after 0x (a bit pattern of the
type's width).

Output:
  read and write print "0xINDEX:SUB NAME = VALUE"; run prints the direction first; errors
  go to standard error as the window words them, after "busprobe-cli: COMMAND: ". With
  --json, every result and every failed transfer is one object on standard output.

Exit status:
  0  every command succeeded
  1  a transfer failed (abort by the node, time-out, refused send)
  2  usage or input error (a bad argument, a missing or unreadable file)
  3  no bus (no CAN interface, or it could not be opened)

Examples:
  busprobe-cli --demo read 0x1000 read 0x1018:1 write 0x6040 u16 0x0F
  busprobe-cli --channel can0 --node 12 --eds drive.eds --json read 0x6041 nmt start
  busprobe-cli --channel can0 scan --seconds 2
  busprobe-cli --channel can0 dump --frames 100 --decode
  busprobe-cli --channel can0 --eds drive.eds dcf-save old.dcf
  busprobe-cli --channel can0 dcf-restore old.dcf --save
)";

}  // namespace

std::string helpText() { return std::string(kUsageAndOptions) + kCommandsAndMore; }

}  // namespace bp::cli
