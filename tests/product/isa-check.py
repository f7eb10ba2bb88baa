#!/usr/bin/env python3
"""The release's machine code runs on every processor a 32-bit Windows user has.

The floor is i686 with SSE2. Every executable section of each image given is
disassembled (objdump of the i686 binutils) and each instruction is matched
against the instruction sets beyond that floor: SSE3 and later, AVX in any
width, and the bit-manipulation, CRC, AES and random-number extensions. A
newer instruction is allowed only where the code chooses it at run time; such
places are listed by address range in ALLOWED (none are needed today).

    isa-check.py IMAGE...    exit 0 when every image keeps to the floor,
                             1 with one line per instruction found beyond it
"""
import re
import subprocess
import sys

OBJDUMP = "i686-w64-mingw32-objdump"

BEYOND = {
    "SSE3": "addsubpd addsubps haddpd haddps hsubpd hsubps lddqu movddup movshdup movsldup fisttp monitor mwait",
    "SSSE3": "pabsb pabsw pabsd palignr phaddw phaddd phaddsw phsubw phsubd phsubsw pmaddubsw pmulhrsw pshufb "
             "psignb psignw psignd",
    "SSE4.1": "blendpd blendps blendvpd blendvps dppd dpps extractps insertps movntdqa mpsadbw packusdw pblendvb "
              "pblendw pcmpeqq pextrb pextrd pextrq phminposuw pinsrb pinsrd pinsrq pmaxsb pmaxsd pmaxud pmaxuw "
              "pminsb pminsd pminud pminuw pmovsxbw pmovsxbd pmovsxbq pmovsxwd pmovsxwq pmovsxdq pmovzxbw pmovzxbd "
              "pmovzxbq pmovzxwd pmovzxwq pmovzxdq pmuldq pmulld ptest roundpd roundps roundsd roundss",
    "SSE4.2": "crc32 crc32b crc32w crc32l pcmpestri pcmpestrm pcmpistri pcmpistrm pcmpgtq popcnt",
    "BMI/ABM": "lzcnt tzcnt andn bextr blsi blsmsk blsr bzhi mulx pdep pext rorx sarx shlx shrx",
    "other": "movbe rdrand rdseed adcx adox aesenc aesenclast aesdec aesdeclast aesimc aeskeygenassist pclmulqdq "
             "sha1rnds4 sha1nexte sha1msg1 sha1msg2 sha256rnds2 sha256msg1 sha256msg2 xgetbv xsave xrstor xsaveopt "
             "rdtscp",
}
ISA_OF = {m: isa for isa, names in BEYOND.items() for m in names.split()}
# Mnemonics that begin with "v" and are not VEX-encoded.
NOT_AVX = {"verr", "verw"}

# Places where a newer instruction is fine, as (function name pattern,
# mnemonic, why). The images to check are the unstripped ones of the build,
# whose symbols name the functions.
ALLOWED = [
    # "rep bsf": a processor without BMI1 runs it as bsf, which gives the same
    # result for every non-zero operand; the compiler emits it only where the
    # operand cannot be zero (here in the runtime's number conversions).
    (r".*", "tzcnt", "runs as bsf"),
    # The runtime's std::random_device uses these only after cpuid said the
    # processor has them.
    (r".*__x86_rdrand.*|.*__x86_rdseed.*", "rdrand", "chosen at run time"),
    (r".*__x86_rdrand.*|.*__x86_rdseed.*", "rdseed", "chosen at run time"),
]

LINE = re.compile(r"^\s*([0-9a-f]+):\s+(?:[0-9a-f]{2} )+\s*(\S+)(.*)$")
FUNC = re.compile(r"^[0-9a-f]+ <([^>]+)>:$")


def beyond(mnemonic, operands):
    m = mnemonic.split(".")[0]
    for prefix in ("rep", "repz", "repnz", "lock", "data16", "addr16"):
        if m == prefix:
            return None
    if m in ISA_OF:
        return ISA_OF[m]
    if m.startswith("v") and m not in NOT_AVX:
        return "AVX"
    if "%ymm" in operands or "%zmm" in operands:
        return "AVX"
    return None


def check(path):
    name = path.rsplit("/", 1)[-1]
    symbols = subprocess.run([OBJDUMP, "-t", path], capture_output=True, text=True, check=True).stdout
    if not re.search(r"^\[\s*\d+\]", symbols, re.M):
        return [f"{name}: no symbols: check the unstripped image of the build"]
    out = subprocess.run([OBJDUMP, "-d", "-w", path], capture_output=True, text=True, check=True).stdout
    found = []
    func = "?"
    for line in out.splitlines():
        f = FUNC.match(line)
        if f:
            func = f.group(1)
            continue
        m = LINE.match(line)
        if not m:
            continue
        addr = int(m.group(1), 16)
        isa = beyond(m.group(2), m.group(3))
        if not isa:
            continue
        mnemonic = m.group(2).split(".")[0]
        if any(re.fullmatch(f, func) and mnemonic == mn for f, mn, _ in ALLOWED):
            continue
        found.append(f"{name}: {addr:08x} <{func}>: {m.group(2)}{m.group(3)} ({isa})")
    return found


def main(paths):
    if not paths:
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        return 2
    bad = []
    for p in paths:
        bad += check(p)
    for line in bad:
        print(line)
    print(f"isa-check: {len(paths)} images, {len(bad)} instructions beyond i686 with SSE2")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
