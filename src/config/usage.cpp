#include "config/usage.h"

#include <cstdio>
#include <span>
#include <string_view>
#include <utility>

#include "config/banner.h"
#include "platform/system.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "util/version.h"

namespace veldro::config {
namespace {

constexpr int key_ctrl_c = 3;
constexpr int key_escape = 27;
constexpr int screen_width = 80;

// The example paths of the pages, in the form of each platform. A page
// names them as {TOKENS}; everything else is the same on both.
using Example = std::pair<std::string_view, std::string_view>;

constexpr Example windows_examples[] = {
    {"{OPTCHARS}", "-, + or /"},
    {"{SRC}", "C:\\DATA"},
    {"{SRC2}", "C:\\WORK"},
    {"{DST}", "E:\\COPY"},
    {"{DSTSRC}", "E:\\COPY\\DATA\\SUB\\a.txt"},
    {"{SRCFILE}", "C:\\DATA\\SUB\\a.txt"},
    {"{LOG}", "E:\\LOGS\\RUN.LOG"},
    {"{LOGLIST}", "E:\\LOGS\\RUN_LIST.LOG"},
    {"{LOGMMDD}", "E:\\LOGS\\MMDD.LOG"},
    {"{HASH}", "E:\\LOGS\\HASH.TXT"},
    {"{HASHERR}", "E:\\LOGS\\HASH_ERROR.TXT"},
    {"{LIST}", "C:\\CASE\\FILES.TXT"},
    {"{DIRS}", "C:\\CASE\\DIRS.TXT"},
    {"{DIRLINE}", "D:\\WORK\\C7 | second drive"},
    {"{DIRDEST}", "E:\\COPY\\WORK\\C7\\"},
    {"{DRIVE}", "F:"},
    {"{DRIVEDEST}", "F:\\DATA"},
    {"{DRIVEWORD}", "drive only (with its ':')"},
    {"{BYPASS}", "C:\\DATA\\TEMP"},
    {"{UNI}", "E:\\LOGS\\NAMES.TXT"},
    {"{SHADOW}", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\DATA"},
    {"{SEP}", "\\"},
    {"{INI}", "VELDRO.ini beside VELDRO.EXE"},
    {"{XML}", "E:\\LOGS\\RUN.XML"},
    {"{AUDIT}", "E:\\LOGS\\KNOWN.TXT"},
};

constexpr Example posix_examples[] = {
    {"{OPTCHARS}", "- or +"},
    {"{SRC}", "/data"},
    {"{SRC2}", "/work"},
    {"{DST}", "/mnt/copy"},
    {"{DSTSRC}", "/mnt/copy/data/sub/a.txt"},
    {"{SRCFILE}", "/data/sub/a.txt"},
    {"{LOG}", "/mnt/logs/RUN.LOG"},
    {"{LOGLIST}", "/mnt/logs/RUN_LIST.LOG"},
    {"{LOGMMDD}", "/mnt/logs/MMDD.LOG"},
    {"{HASH}", "/mnt/logs/HASH.TXT"},
    {"{HASHERR}", "/mnt/logs/HASH_ERROR.TXT"},
    {"{LIST}", "/case/files.txt"},
    {"{DIRS}", "/case/dirs.txt"},
    {"{DIRLINE}", "/work/c7 | second disk"},
    {"{DIRDEST}", "/mnt/copy/work/c7/"},
    {"{DRIVE}", "/mnt/f"},
    {"{DRIVEDEST}", "/mnt/f/data"},
    {"{DRIVEWORD}", "a directory"},
    {"{BYPASS}", "/data/tmp"},
    {"{UNI}", "/mnt/logs/names.txt"},
    {"{SHADOW}", "/mnt/snapshot/data"},
    {"{SEP}", "/"},
    {"{INI}", "veldro.ini beside the program"},
    {"{XML}", "/mnt/logs/run.xml"},
    {"{AUDIT}", "/mnt/logs/known.txt"},
};

std::string with_examples(std::string_view text, paths::Style style) {
    std::string out;
    out.reserve(text.size() + 256);
    std::size_t i = 0;
    while (i < text.size()) {
        bool replaced = false;
        if (text[i] == '{') {
            const std::span<const Example> examples =
                style == paths::Style::windows ? std::span<const Example>(windows_examples) : posix_examples;
            for (const auto& [token, value] : examples) {
                if (text.substr(i, token.size()) == token) {
                    out += value;
                    i += token.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

constexpr std::string_view usage_page_texts[] = {
    // 1
    "Usage: veldro  (optional)source_dir  (optional)destination_dir  -[OPTIONS]\n\n"
    " Without -p and -d the first two arguments are the source and the destination\n"
    " (the source is then required, as a placeholder at least); a destination\n"
    " given this way still needs -d, --DES= or the INI DEST= to run.\n"
    " Options begin with {OPTCHARS}; letters combine: -Ami is -A -m -i.\n"
    " --keyword options are known by their first letters in any case (--logfile,\n"
    " --logs and --LOG are one option); no word is guessed: any other is refused.\n\n"
    " -p path [path..]   source directories (up to 300), up to the next option;\n"
    "                    a path naming a file copies that file from its directory\n"
    "                    --PATH=path    INI: [PATH=...]  (one per line)\n"
    " -d path            destination directory; each source tree is grown below it\n"
    "                    --destination=path{SEP}folder  (or --OUT=), which also sets -m\n"
    "                    INI: [DEST=...]  or [OUTPUT=...]\n"
    "     The -p and -d are really mandatory\n\n"
    " veldro logs: the log files    veldro --help: this text    veldro --version\n"
    " example: veldro -p {SRC} -d {DST} -1 {LOG}!31\n",

    // 2
    "ALTERNATE DATA STREAMS (named streams; on Linux the user extended attributes,\n"
    " which is how NTFS streams appear through ntfs-3g)\n\n"
    " --ADSEXTRACT    copy every selected file as usual, and write each named\n"
    "                 stream of the copy out as an ordinary file beside it:\n"
    "                      original_name.ext[adsfilename.ext]\n"
    " --ADSPARENT     copy ONLY files that have named streams, each followed by\n"
    "                 its extracted stream files\n"
    " --ADSCHILD      ONLY the stream files of files that have streams are\n"
    "                 written; the files themselves are not copied\n\n"
    " The three words must be given in full (any case). With hashing on, every\n"
    " stream of source and copy is hashed into the hash log; the summary counts\n"
    " the streams extracted.\n",

    // 3
    "SELECTING FILES BY NAME, AND LISTS OF FILES\n\n"
    " -f *.doc *.xls    file types (patterns, no paths) up to the next option;\n"
    "                   default *.*; up to 300 patterns\n"
    " -F typefile       file types from a file, one pattern per line\n"
    " -S listfile       (or -s) copy ONLY the files named in a list file:\n"
    "                   one full path per line; a bar ends the path and anything\n"
    "                   after it is ignored:   {SRCFILE}| other information\n"
    "                   an empty line ends the list. Each file is copied with its\n"
    "                   full path below -d:     {SRCFILE}\n"
    "                   is copied to            {DSTSRC}\n"
    "                   --list=listfile is the same (and also sets -m)\n"
    " --TEST            with -S: only check that each listed file exists; found\n"
    "                   files go to the copied log, missing ones to the not-copied\n"
    "                   log (use --logfile). Nothing is copied.\n"
    " -x name [name..]  exclude files whose name matches (patterns, upper-cased)\n"
    " -X name [name..]  as -x, keeping the case of the patterns\n"
    " --exclude=file    exclusion patterns from a file, one per line\n",

    // 4
    "FLATTENING AND DUPLICATE NAMES\n\n"
    " --flatten[=xx]    (--FLAT) copy every file into the destination directory\n"
    "                   itself, without the source directories. With =xx above 5,\n"
    "                   at most xx files go into each folder: the first xx into\n"
    "                   the destination, the next into 0001, then 0002 ...\n"
    "                   Files of the same name replace each other, unless:\n"
    " --nodupe          (--NOD) with --flatten, a file whose name already exists\n"
    "                   in the destination is copied as name[0000].ext, the next\n"
    "                   one as name[0001].ext ...; a name in use is never reused\n"
    "                   NOTE: --nodupe turns on -A (copy regardless of dates)\n"
    "                   INI: FLAT=xx  NODUPE=ON\n",

    // 5
    "NAME CASE, SHADOW COPIES AND DESTINATION DRIVE\n\n"
    " --NOCASE          (or --IGNORE_CASE) a file whose destination name exists,\n"
    "                   also when it differs only in upper/lower case, is copied\n"
    "                   under an indexed name name[0000].ext; turns on -A\n"
    " --SHADOW_COPY     the source paths name a shadow copy (snapshot) and are\n"
    "                   used as given, without checking them first (see page 17)\n"
    " -D {DRIVE}        destination {DRIVEWORD}: the first source path is\n"
    "                   repeated below it, so -p {SRC} -D {DRIVE} copies into\n"
    "                   {DRIVEDEST}, replicating the directories from the top\n",

    // 6
    "DIRECTORIES, LISTING AND COUNTING\n\n"
    " -m          make missing destination directories without asking\n"
    "             (--MAIN)                                   INI: [MAKE=1]\n"
    " -M          as -m, and give the directories made the dates of their\n"
    "             source directories (--maintain)            INI: [MAINTAIN=ON]\n"
    " -U          (or -u) keep the case of the directory names made with -M;\n"
    "             without it they are made in upper case\n"
    " -n          list only: show the source names, copy nothing\n"
    "             INI: LIST_ONLY=ON  (then -n shows the destination as well)\n"
    " -N          list only, with size and destination\n"
    " -r          do not descend into sub-directories   (--norecurse, --NOR)\n"
    "             --recurse[=ON|OFF] (--REC) descends (the default)  INI: REC=\n"
    " -i          (or -I) immediate: no counting pass and no free-space check\n"
    "             before the copy                            INI: NO_COUNT=ON\n"
    "             --IM (the bare word) or --immediate (--IMMED)\n"
    "             INI: IMMED=ON\n",

    // 7
    "WHICH FILES ARE COPIED, AND THE CONSOLE\n\n"
    " By default a file is copied only when it is newer than its copy.\n"
    " -A          copy ALL files, whatever their dates (--ALL)\n"
    " +A          turn -A off again (also after the INI file)\n"
    " -e          copy only over files that already exist in the destination\n"
    "             (--exist, --EXI)\n"
    " -a[dDehmrs] copy only files carrying EVERY attribute named: e encrypted,\n"
    "             h hidden, m archive, r read-only, s system; D (or dd) the\n"
    "             entry must be a directory\n"
    " -v          silent: no run header and no console summary (-V counts 2)\n"
    "             environment: set SILENT=ON     INI: SILENT=ON\n"
    "             --silent[=ON|OFF]  (--SIL)\n"
    " --QUIET     no line per file and no status line on a terminal; the\n"
    "             summary stays        INI: QUIET=ON\n",

    // 8
    "LOG FILES: THREE WAYS TO NAME THEM\n\n"
    " 1. -1 logname!mask        (also -2 or -3; +1 closes the log again)\n"
    " 2. --logfile=logname!mask   with   --error=mask  adding logs to it\n"
    " 3. in the INI file:   LOGFILE=logname!mask   and   LOGS=keyword,keyword\n\n"
    " The separator between name and mask is !, | or ; (--logfile also takes :).\n"
    " Name the logs in one place only; all the masks given are added together.\n"
    " The main log (the accounting file) is the name itself; the other logs are\n"
    " named from it:  {LOG}!2  also writes {LOGLIST}\n"
    " A name holding {SEP}MMDD or {SEP}YYMM gets today's date: {LOGMMDD}\n"
    " -E errorlog   a separate error log for the copy errors\n"
    " environment: set ACCT=name (ACCT=ON gives ACCT-ING)\n"
    " INI: ACCT=name, ACCTING=name, ACCOUNT=name  name the accounting file\n",

    // 9
    "-1 logname!mask   (separators ! | ;  -  not :, so drive letters are safe)\n\n"
    "  mask   log                  name\n"
    "    1    main log             logname            statistics, header\n"
    "    2    files list           logname_LIST       every file scanned\n"
    "    4    copied files         logname_COPIED     size, names, 3 dates\n"
    "    8    not copied           logname_NOT_COPIED with the reason\n"
    "   16    errors               logname_ERROR      copy errors\n"
    "   32    renamed files        logname_DUPE_FILES tilde renames\n"
    "   64    directory counts     logname_DIR-COUNTS files per directory\n"
    "  128    Unicode names        logname_UNICODE_FILES  (UTF-16)\n"
    "For ALL logfiles use: a number higher than 255\n"
    "  (with --logfile; with -1 use 255 or !all, in the INI file 128 or more)\n"
    " Add the numbers: -1 {LOG}!31   main, list, copied, not copied,\n"
    "                                      error logs\n"
    "                  -1 {LOG}!all  every log\n"
    " --MILLI   add milliseconds to the times in the logs\n"
    " -z        log times in GMT (--ZULU, --ZUL)      INI: ZULU=ON\n",

    // 10
    "--logfile=logname!mask  (also --logs=, --LOG=, --ACC=)\n"
    "  the mask is a number, or keywords: all list cop not ERR dup DIR UNI\n"
    "    --logfile={LOG}!list,cop     opens the list and copied logs\n"
    "    --logfile=RUN.LOG:64         ':' works too when the name has no drive\n"
    " --error=mask   (--ERR=) adds logs by number or keyword to the named log\n"
    "    --logfile={LOG}!2 --err=12   list, copied and not-copied logs\n\n"
    " INI file ({INI}):\n"
    "  LOGFILE=name[ [[!|;] [bitmask] keyword,keyword..]]\n"
    "  LOGS=keyword,keyword...\n"
    "  keywords: all list cop not err dup dir uni;  LOGFILE=OFF names no log\n"
    "  ACCT=, ACCTING=, ACCOUNT= and LOG=... lines name the log the same way\n"
    "  APPEND=ON       accepted and echoed into the log\n",

    // 11
    "AGE AND SIZE\n\n"
    " -g xxx   copy files OLDER than xxx days (--before=, --OLD=)  [OLDER=xxx]\n"
    " -l xxx   copy files YOUNGER than xxx days (--after=, --NEW=, --YOU=)\n"
    "                                                      [YOUNGER=xxx] [NEWER=xxx]\n"
    "   xxx is a number of days, or a date mm-dd-yyyy[ACW] or yyyy-mm-dd[ACW]:\n"
    "   then the times named by the letters are tested (A last access, C created,\n"
    "   W last written); a date without letters becomes a number of days\n"
    "       -g 01-15-2005W   files last written before 15 January 2005\n"
    "       -g 30 -l 60      files from 30 up to 59 days old\n"
    " -G xxx   copy files of at least xxx bytes   [GREATER=xxx]  --greater=xxx\n"
    " -L xxx   copy files of at most xxx bytes    [LESSTHAN=xxx] --lessthan=xxx\n",

    // 12
    "TIMES\n\n"
    " -T x    (or -t) the time the age and newer tests use: A last access,\n"
    "         C created, W last written (default), 3 accepted (tests W)\n"
    "         +T back to W           INI: TIME=x\n"
    " --ZERO  a source whose created or written time is zero (the value 1) is\n"
    "         copied as newer, and the copy gets 1601-12-25 08:00 instead\n"
    " -R      RESET: put the source's own times, last access included, back\n"
    "         after reading it (--reset[=ON|OFF], --RES)     +R turns it off\n"
    "         environment: set RESET=ON  (NORESET leaves it off)\n"
    "         INI: RESET=ON (or YES or 1)\n"
    "order of preference: command line option -R, ini_file, environment -set RESET=\n"
    " -O      overwrite protected (read-only, hidden, system) destination files\n"
    "         and give them back their attributes (--overwrite, --OVER)\n",

    // 13
    "HASHING (MD5, compared between source and copy)\n\n"
    " -hs=hashlog      hash the source files only\n"
    " -hd=hashlog      hash the copies only\n"
    " -h=hashlog       hash source and copy and compare them\n"
    " -H hashlog       as -h, also writing the hashlog_ERROR and hashlog_RERUN\n"
    "                  companions:  -H {HASH}  also writes\n"
    "                  {HASHERR}\n"
    " --hashlog=file   the hash log for --HASH\n"
    " --HASH[=s|d|b]   (--MD5) hash source, destination or both (default both)\n"
    "                  INI: HASH=ON, HASH=S, HASH=D, HASH=OFF\n"
    " --RET=xx         copy again up to xx times when the digests differ\n"
    " --VERIFY_MEDIA   read each copy back from the destination drive, not the\n"
    "                  cache (flushed, its cached pages dropped)\n"
    "                  INI: VERIFY_MEDIA=ON\n"
    " --VERIFY=record  check earlier copies against a hash log, DFXML or audit set\n"
    " --SHA1  (--160)  also SHA-1         --SHA2 (--256)  also SHA-256\n"
    " --SHA3  (--384)  also SHA-384       --SHA5 (--512)  also SHA-512\n"
    "                  INI: SHA1=ON SHA2=ON SHA3=ON SHA5=ON   (CRC=ON is ignored)\n",

    // 14
    "--dirs=pathfilename   start directories from a file\n\n"
    " One full path per line; a bar ends the path, free text may follow it:\n"
    "      {DIRLINE}\n"
    " Each directory is copied with its own path appended under -d:\n"
    "      -d {DST} --dirs={DIRS}  copies it into {DIRDEST}\n"
    " A line naming a missing directory or a file is skipped; a line of less\n"
    " than two characters ends the list. -p paths may stand beside the list.\n"
    " --dirs also sets -m and -i.\n",

    // 15
    "--UNICODE=filename_output\n\n"
    " writes the full source and destination names of the files handled, with\n"
    " their digests, as UTF-16 text into filename_output (emptied first):\n"
    "      --UNICODE={UNI}\n\n"
    "CONSOLE COLUMNS\n"
    " -w xx   width of the file-name column (default 65; 0 = 260)   +w resets\n"
    " -W xx   as -w     --WIDTH=xx (--WID)     INI: WIDTH=xx    env: WIDTH=xx\n"
    " --DEL=c    the character between the console columns (--DEL=pipe for |,\n"
    "            or a character code)          INI: DELIM=c  DELIM=OFF\n"
    " INI: NAMEONLY=ON  only the file name in the column\n"
    "      PATHONLY=ON  a 78-character column       DISPLAY=xx  a display value\n"
    "      MILITARY=ON  accepted and echoed\n",

    // 16
    "--bypass=path or file\n\n"
    " Directories never to enter: --bypass={BYPASS} or a file holding one path\n"
    " per line (ended by an empty line). In the INI file one per line:\n"
    "      BYPASS={BYPASS}\n\n"
    "THE INI FILE: {INI},\n"
    " or else the [BASE] section of KANDRELX.INI in the working directory.\n"
    " One directive per line (its first letters count),\n"
    " ; or # begins a comment, the first empty line ends the settings. The\n"
    " command line overrides it, and it overrides the environment.\n"
    " MEMO=file  asks for a memo at the start and appends it to the file\n"
    "            (MEMO alone asks for the file; MEMO=OFF: no memo)\n"
    " DFXML=file  AUDITSET=file  SEAL=ON  REPORT=file  manifests (page 19)\n",

    // 17
    "--SHADOW_COPY\n\n"
    " Copies from a shadow copy (a read-only snapshot of a volume) taken while\n"
    " the volume stays in use, so that open and locked files can be copied as\n"
    " they were at the moment of the snapshot. Name the snapshot's path as the\n"
    " source:  -p {SHADOW} --SHADOW_COPY\n"
    " The source path is then used as given, without checking that it exists.\n"
    " The shadow-copy service (or the snapshot tool of the system) must be\n"
    " running and the snapshot made before the run; this program only reads it.\n\n"
    "--THREADS=n  files whose data is worked on at once: 1 to 64 (default: one\n"
    "             per processor, at most 8)   INI: THREADS=n   env: THREADS=n\n",

    // 18
    "--CHK_TILDE\n\n"
    " A long name with a true '~' among its first eight characters (ABCDEF~1.TXT)\n"
    " can collide with the short 8.3 name of another file. With --CHK_TILDE such\n"
    " a file whose destination already exists is renamed with the extension\n"
    " form .D[nnnnn]  (ABCDEF~1.TXT.D[12345]); the renames go to the renamed-files\n"
    " log (mask 32).\n"
    "   --CHK_TILDE=ON  (or --CHK) check       --CHK_TILDE=OFF  do not check\n"
    "   INI: CHK_TILDE=ON  (default OFF)\n\n"
    "THE CASE  (in the default log's header, the DFXML and the report)\n"
    " --CASE=text      the case number        --EXHIBIT=text   the exhibit\n"
    " --EXAMINER=text  who made the copy      --NOTES=text     free notes\n"
    "   INI: CASE=  EXHIBIT=  EXAMINER=  NOTES=      --EXAMINER=\"J. Doe\"\n",

    // 19
    "MANIFESTS AND THE SEAL\n\n"
    " --DFXML=file     a DFXML manifest (Digital Forensics XML): for every file\n"
    "                  handled its name, size, times, digests of source and copy,\n"
    "                  the copy's name and the verdict     INI: DFXML=file\n"
    "                  --DFXML={XML}\n"
    " --AUDITSET=file  the copies' sizes and digests as a known-hash set for\n"
    "                  hashdeep audits (size, MD5, SHA-1 and SHA-256 as chosen)\n"
    "                  INI: AUDITSET=file    --AUDITSET={AUDIT}\n"
    "                  later:  hashdeep -r -a -k {AUDIT} {DST}\n"
    " --SEAL           at the end of the run, after every log is closed, writes\n"
    "                  logname.sha256 (without a main log: beside the hash log)\n"
    "                  listing the SHA-256 of every file the run wrote: logs,\n"
    "                  hash logs, Unicode file, manifests     INI: SEAL=ON\n"
    "                  later, in the log directory:  sha256sum -c RUN.LOG.sha256\n"
    " Digests come from the hashing chosen (-H, --HASH, --SHA1 ...); the audit\n"
    " set hashes the copies itself when they were not hashed.\n"
    " --REPORT=file    one HTML acquisition report (counts, failures, digests,\n"
    "                  charts), written at every end of a run   INI: REPORT=file\n",
};

constexpr std::string_view log_help_texts[] = {
    // 1
    "There are 3 ways to get logfile creations. \n"
    "  1. the -1 option on the command line:        -1 logname!mask\n"
    "  2. the --logfile option (with --error=):     --logfile=logname!mask\n"
    "  3. the INI file:                             LOGFILE=logname!mask\n"
    " Give a log name in one place only.\n"
    " The name is followed by '!', ';' or '|' and the mask (a number or, for\n"
    " --logfile and the INI file, keywords) choosing the logs to write.\n",

    // 2
    "-1 logname!mask\n"
    "  mask   log\n"
    "    1    main log (accounting file): header, statistics\n"
    "    2    logname_LIST        every file scanned\n"
    "    4    logname_COPIED      files copied, size and dates\n"
    "    8    logname_NOT_COPIED  files not copied, with the reason\n"
    "   16    logname_ERROR       copy errors\n"
    "   32    logname_DUPE_FILES  renamed files\n"
    "   64    logname_DIR-COUNTS  files copied per directory\n"
    "  128    logname_UNICODE_FILES  copied names as UTF-16\n"
    " Add the numbers. 255 (or !all) writes all logs; 31 is the usual value.\n",

    // 3
    "--logfile=logname!mask   (--logs=, --LOG=, --ACC=)\n"
    "  mask: a number, or keywords  all list cop not ERR dup DIR UNI\n"
    " --error=mask  (--err=) adds logs to a log named by --logfile\n"
    "example:  --logfile=logname.ext!2   --err=12\n"
    "  writes logname.ext, logname_LIST.ext, logname_COPIED.ext and\n"
    "  logname_NOT_COPIED.ext\n",

    // 4
    "INI file:\n"
    "LOGFILE=name[ [[!|;] [bitmask] keyword,keyword..]]\n"
    "LOGS=keyword,keyword...\n"
    "  keywords: all list cop not err dup dir uni\n"
    "  LOGFILE=RUN.LOG!6   main, list and copied logs\n"
    "  a value holding OFF names no log\n",
};

constexpr std::string_view closing_samples =
    "\nSAMPLE files list log (mask 2):\n"
    "     {SRCFILE}| 1024| 2021/03/15|10:00:00c| 2021/03/15|10:00:00m| ...\n"
    "     {SRC}{SEP}b.doc| 2048| 2021/03/16|11:30:00c| 2021/03/16|11:30:00m| ...\n"
    "\nSAMPLE copied files log (mask 4):\n"
    "         1,024 |{SRCFILE}| ==> |{DSTSRC}| 3 DATES\\TIMES\n"
    "         2,048 |{SRC}{SEP}b.doc| ==> |{DST}{SEP}b.doc| 3 DATES\\TIMES\n";

const char* platform_name() {
#if defined(_WIN32) && defined(_WIN64)
    return "Windows, 64 bit";
#elif defined(_WIN32)
    return "Windows, 32 bit";
#elif defined(__linux__)
    return "Linux, 64 bit";
#else
    return "POSIX";
#endif
}

std::string compiler_text() {
#if defined(__clang__)
    return "clang " __clang_version__;
#elif defined(__GNUC__)
    return "gcc " __VERSION__;
#else
    return "C++ compiler";
#endif
}

std::string build_lines() {
    char line[512];
    std::string text;
    std::snprintf(line, sizeof line, "\n%20s, %s, %s", "Built", util::build_date, util::build_time);
    text += line;
    std::snprintf(line, sizeof line, "\n%20s, %s, %s", "Release", util::program_version_text().c_str(),
                  platform_name());
    text += line;
    std::snprintf(line, sizeof line, "\n%20s, %s, %s\n", "Compiler", compiler_text().c_str(), "C++20");
    text += line;
    return text;
}

// Ends the paging when the reader asks to stop (or nobody can answer).
// The first page's prompt only waits: any key, Escape included, goes on to
// the second page; an interrupt signal still ends the paging there.
void wait_for_next_page(bool first_page) {
    std::fflush(stdout);
    std::fputs("\n", stdout);
    util::print_centered(stderr, "RETURN TO CONTINUE", screen_width);
    std::fflush(stderr);
    const int key = platform::read_key();
    const bool stop_key = key < 0 || key == key_ctrl_c || key == key_escape;
    if (platform::interrupt_requested() || (!first_page && stop_key)) {
        std::fputs("\n", stdout);
        throw util::RunEnd{ILLEGAL_OPTION, false};
    }
    config::show_banner();
}

// Prints the pages with a prompt after each when a person is there to
// answer it; with no terminal on standard input nobody can, and reading
// end of input must not turn a help request into a failure.
void show_pages(const std::vector<std::string>& pages) {
    const bool prompting = platform::stdin_is_terminal();
    std::fflush(stdout);
    config::show_banner();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::fputs(pages[i].c_str(), stdout);
        if (prompting) {
            wait_for_next_page(i == 0);
        } else {
            std::fputs("\n", stdout);
        }
    }
}

}  // namespace

std::vector<std::string> usage_pages(paths::Style style) {
    std::vector<std::string> pages;
    for (std::string_view text : usage_page_texts) {
        pages.push_back(with_examples(text, style));
    }
    return pages;
}

std::vector<std::string> log_help_pages(paths::Style style) {
    std::vector<std::string> pages;
    for (std::string_view text : log_help_texts) {
        pages.push_back(with_examples(text, style));
    }
    return pages;
}

std::string usage_closing_text(paths::Style style) {
    return with_examples(closing_samples, style) + build_lines();
}

void show_usage(int status) {
    show_pages(usage_pages());
    std::fputs(usage_closing_text().c_str(), stdout);
    std::fflush(stdout);
    throw util::RunEnd{status, false};
}

void show_log_help() {
    show_pages(log_help_pages());
    std::fflush(stdout);
}

void show_version() {
    std::fprintf(stdout, "VELDRO Ver. %s (%s)\n", util::program_version_text().c_str(), platform_name());
    std::fflush(stdout);
}

void say(const OptionStop& stop) {
    switch (stop.page) {
        case OptionStop::Page::usage:
            show_usage(stop.status);
        case OptionStop::Page::version:
            show_version();
            throw util::RunEnd{stop.status, false};
        case OptionStop::Page::none:
            break;
    }
    std::fputs(stop.text.c_str(), stdout);
    throw util::RunEnd{stop.status};
}

}  // namespace veldro::config
