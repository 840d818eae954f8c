// The 32-bit programs must run on the Pentium III and Athlon XP PCs the games ran on, which
// have no SSE2 (and older ones, which have no SSE at all). So no instruction of SSE or a
// later extension may be reached there: the shipped file's disassembly (objdump -d) holds
// such instructions only in the scan's searches for one instruction set each, which the
// scan calls only when CPUID reports that set. Every other instruction must be one of the
// x87, MMX or integer instructions of the processors before SSE.
//
// The program file carries no symbols. The linker's map of the same link names the function
// (or, for library objects built without a section per function, the nearest symbol) that
// each address lies in.
#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Program {
  std::string name;
  std::string listing;  // objdump -d --no-show-raw-insn of the program file
  std::string map;      // the linker's map file of the same link
};
std::vector<Program> g_programs;

std::string Demangled(const std::string& symbol) {
  // PE symbols of 32-bit code may carry the C leading underscore before _Z.
  const std::string name = symbol.compare(0, 3, "__Z") == 0 ? symbol.substr(1) : symbol;
  int status = 0;
  char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  if (status != 0 || text == nullptr) return symbol;
  std::string result(text);
  std::free(text);
  return result;
}

// One place of the code: where it starts, the function (or symbol) and the object file.
struct CodePlace {
  unsigned long address;
  std::string function;
  std::string object;
};

bool ParseHex(const std::string& text, unsigned long* value) {
  if (text.compare(0, 2, "0x") != 0 || text.size() < 3) return false;
  char* end = nullptr;
  *value = std::strtoul(text.c_str() + 2, &end, 16);
  return *end == '\0';
}

// The input sections of the output section .text, each with the symbols the map lists in it.
std::vector<CodePlace> ReadCodeMap(const std::string& path, std::string* error) {
  std::vector<CodePlace> places;
  std::ifstream in(path);
  if (!in.good()) {
    *error = "cannot open " + path;
    return places;
  }
  std::string line, pendingSection;
  bool inMemoryMap = false, inText = false;
  std::string object;
  while (std::getline(in, line)) {
    if (line.rfind("Linker script and memory map", 0) == 0) inMemoryMap = true;
    if (!inMemoryMap || line.empty()) continue;
    if (line[0] != ' ') {  // an output section starts
      inText = line.compare(0, 6, ".text ") == 0 || line == ".text";
      continue;
    }
    if (!inText) continue;
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) words.push_back(word);
    if (words.empty()) continue;
    unsigned long address = 0, size = 0;
    if (line[1] == '.' || line[1] == '*') {
      // " .text$name 0xADDR 0xSIZE object", or the name alone with the rest on the next line.
      if (line[1] == '*') continue;
      if (words.size() == 1) {
        pendingSection = words[0];
        continue;
      }
      pendingSection = words[0];
      words.erase(words.begin());
    } else if (!pendingSection.empty() && words.size() >= 3 && ParseHex(words[0], &address) &&
               ParseHex(words[1], &size)) {
      // The continuation of a section named on the line before.
    } else if (words.size() == 2 && ParseHex(words[0], &address) && words[1].find('=') == std::string::npos) {
      // A symbol inside the current input section.
      if (address != 0) places.push_back({address, Demangled(words[1]), object});
      continue;
    } else {
      continue;
    }
    if (words.size() < 3 || !ParseHex(words[0], &address) || !ParseHex(words[1], &size)) {
      pendingSection.clear();
      continue;
    }
    object = words[2];
    for (size_t i = 3; i < words.size(); ++i) object += " " + words[i];
    if (size != 0 && address != 0) {
      const size_t dollar = pendingSection.find('$');
      const std::string function =
          dollar == std::string::npos ? object : Demangled(pendingSection.substr(dollar + 1));
      places.push_back({address, function, object});
    }
    pendingSection.clear();
  }
  std::stable_sort(places.begin(), places.end(),
                   [](const CodePlace& a, const CodePlace& b) { return a.address < b.address; });
  if (places.empty()) *error = path + " lists no code of the output section .text";
  return places;
}

const CodePlace* PlaceOf(const std::vector<CodePlace>& places, unsigned long address) {
  auto after = std::upper_bound(places.begin(), places.end(), address,
                                [](unsigned long a, const CodePlace& p) { return a < p.address; });
  return after == places.begin() ? nullptr : &*(after - 1);
}

// Instructions of SSE and later extensions that name no xmm, ymm, zmm or mask register:
// the cache and fence instructions, the SSE control register, the SSE integer
// instructions on MMX registers, and the later general-purpose ones (SSE3's fisttp, SSE4.2's
// crc32 and popcnt, LZCNT, BMI1, BMI2, MOVBE, RDRAND, ADX, XSAVE). Not tzcnt: its encoding
// is "rep bsf", which every older processor runs as bsf, and the compiler emits it only
// where both give the same result.
const std::set<std::string>& LaterGeneralInstructions() {
  static const std::set<std::string> names = {
      "prefetchnta", "prefetcht0", "prefetcht1", "prefetcht2", "prefetchw", "sfence", "lfence",
      "mfence", "clflush", "clflushopt", "movnti", "movntq", "maskmovq", "ldmxcsr", "stmxcsr",
      "pshufw", "pavgb", "pavgw", "pextrw", "pinsrw", "pmaxsw", "pmaxub", "pminsw", "pminub",
      "pmovmskb", "pmulhuw", "psadbw", "paddq", "psubq", "pmuludq", "fisttp", "fisttps",
      "fisttpl", "fisttpll", "crc32", "crc32b", "crc32w", "crc32l", "popcnt", "lzcnt",
      "andn", "bextr", "blsi", "blsmsk", "blsr", "bzhi", "mulx", "pdep", "pext", "rorx", "sarx",
      "shlx", "shrx", "movbe", "rdrand", "rdseed", "adcx", "adox", "xgetbv", "xsave", "xrstor"};
  return names;
}

// Whether an instruction of the listing (mnemonic and operands) needs SSE or later.
bool NeedsSseOrLater(const std::string& text, std::string* mnemonic) {
  std::istringstream words(text);
  std::string word;
  // Skip prefixes such as "lock", "rep" or "data16".
  static const std::set<std::string> prefixes = {"lock", "rep", "repz", "repnz", "repe", "repne",
                                                 "data16", "addr16", "data32", "addr32", "cs",
                                                 "ds", "es", "ss", "fs", "gs", "bnd", "notrack"};
  while (words >> word && prefixes.count(word) != 0) {
  }
  if (word.empty()) return false;
  *mnemonic = word;
  // No register of the older instruction sets begins with x, y, z or k (AVX-512's masks).
  for (const char* registers : {"%xmm", "%ymm", "%zmm", "%k"}) {
    if (text.find(registers) != std::string::npos) return true;
  }
  const std::set<std::string>& later = LaterGeneralInstructions();
  if (later.count(word) != 0) return true;
  // popcnt, lzcnt and the like with a size suffix (popcntl).
  const char last = word.back();
  return (last == 'b' || last == 'w' || last == 'l' || last == 'q') && later.count(word.substr(0, word.size() - 1)) != 0;
}

// Library code that runs a newer instruction only after its own CPUID check.
struct CheckedLibraryCode {
  const char* object;       // part of the object file's name in the map
  const char* function;     // part of the function's name; "" for any
  const char* instruction;  // the mnemonic; "" for any
};
const CheckedLibraryCode CHECKED_LIBRARY_CODE[] = {
    // libgcc's reader of the processor's features (__builtin_cpu_supports) runs xgetbv only
    // when CPUID reports OSXSAVE.
    {"libgcc.a(cpuinfo.o)", "", "xgetbv"},
    // std::random_device takes these sources only when CPUID reports RDRAND or RDSEED.
    {"libstdc++.a(random.o)", "__x86_rdrand", ""},
    {"libstdc++.a(random.o)", "__x86_rdseed", ""},
};

// The functions the scan only calls when CPUID reports their instruction set: the searches
// of byte_scan.cpp named after it, with their lambdas and the helpers inlined into them.
bool OnlyCalledAfterCpuidCheck(const CodePlace& place, const std::string& mnemonic) {
  if (place.object.find("byte_scan.cpp.obj") != std::string::npos) {
    // The scan's own reader of the processor's features runs xgetbv only when CPUID reports
    // OSXSAVE and AVX.
    if (mnemonic == "xgetbv" && place.function.find("BestScanIsa") != std::string::npos) return true;
    for (const char* isa : {"Sse2", "Avx2", "Avx512"}) {
      if (place.function.find(isa) != std::string::npos) return true;
    }
    return false;
  }
  for (const CheckedLibraryCode& code : CHECKED_LIBRARY_CODE) {
    if (place.object.find(code.object) != std::string::npos &&
        place.function.find(code.function) != std::string::npos &&
        (code.instruction[0] == '\0' || mnemonic == code.instruction)) {
      return true;
    }
  }
  return false;
}

struct Finding {
  std::string function;
  std::string instruction;
  unsigned long address;
};

// Every instruction of the listing that needs SSE or later outside the allowed functions.
std::vector<Finding> ForbiddenInstructions(const Program& program, size_t* instructions, size_t* allowed,
                                           std::string* error) {
  std::vector<Finding> findings;
  *instructions = 0;
  *allowed = 0;
  const std::vector<CodePlace> places = ReadCodeMap(program.map, error);
  if (places.empty()) return findings;
  std::ifstream in(program.listing);
  if (!in.good()) {
    *error = "cannot open " + program.listing;
    return findings;
  }
  std::string line;
  while (std::getline(in, line)) {
    // "  401000:\tpush   %ebp"
    const size_t colon = line.find(":\t");
    if (colon == std::string::npos) continue;
    char* end = nullptr;
    const unsigned long address = std::strtoul(line.c_str(), &end, 16);
    if (end != line.c_str() + colon) continue;
    std::string text = line.substr(colon + 2);
    const size_t comment = text.find('#');
    if (comment != std::string::npos) text.erase(comment);
    ++*instructions;
    std::string mnemonic;
    if (!NeedsSseOrLater(text, &mnemonic)) continue;
    const CodePlace* place = PlaceOf(places, address);
    if (place != nullptr && OnlyCalledAfterCpuidCheck(*place, mnemonic)) {
      ++*allowed;
      continue;
    }
    findings.push_back({place != nullptr ? place->function + " (" + place->object + ")" : "before any code of the map",
                        text, address});
  }
  if (*instructions == 0) *error = program.listing + " holds no disassembled instruction";
  return findings;
}

TEST(InstructionSet, NothingBeyondX87AndMmxOutsideTheCpuidCheckedSearches) {
  ASSERT_FALSE(g_programs.empty());
  for (const Program& program : g_programs) {
    SCOPED_TRACE(program.name);
    size_t instructions = 0, allowed = 0;
    std::string error;
    const std::vector<Finding> findings = ForbiddenInstructions(program, &instructions, &allowed, &error);
    ASSERT_TRUE(error.empty()) << error;
    // A program of this size has thousands of instructions; fewer means a listing cut short.
    EXPECT_GT(instructions, 5000u);
    // The scan's SSE2, AVX2 and AVX-512 searches are in the program: without them the check
    // of the allowed functions would have found nothing to allow, a sign of a misread map.
    EXPECT_GT(allowed, 100u) << "the scan's SIMD searches were not found by name in " << program.map;
    std::map<std::string, std::vector<const Finding*>> byFunction;
    for (const Finding& finding : findings) byFunction[finding.function].push_back(&finding);
    for (const auto& entry : byFunction) {
      std::ostringstream shown;
      size_t count = 0;
      for (const Finding* finding : entry.second) {
        if (count++ == 3) break;
        char address[16];
        std::snprintf(address, sizeof address, "%lx", finding->address);
        shown << "\n    " << address << ": " << finding->instruction;
      }
      ADD_FAILURE() << program.name << ": " << entry.first << " has " << entry.second.size()
                    << " instruction(s) that need SSE or later, outside the CPUID-checked searches:"
                    << shown.str();
    }
  }
}

// The classifier itself, on instructions as objdump writes them.
TEST(InstructionSet, TellsSseAndLaterFromOlderInstructions) {
  const struct {
    const char* text;
    bool later;
  } cases[] = {
      {"divss  %xmm1,%xmm0", true},
      {"movd   %eax,%xmm0", true},
      {"cvttss2si %xmm0,%eax", true},
      {"vmovdqu64 (%eax),%zmm0", true},
      {"vpcmpeqb %ymm1,%ymm0,%ymm2", true},
      {"vptestnmb %zmm0,%zmm0,%k1", true},
      {"fisttpl 0x8(%esp)", true},
      {"popcnt %eax,%edx", true},
      {"tzcnt  %edx,%edx", false},
      {"xgetbv", true},
      {"prefetcht0 (%eax)", true},
      {"lock cmpxchg %ecx,(%edx)", false},
      {"pavgb  %mm1,%mm0", true},
      {"paddb  %mm1,%mm0", false},
      {"fdivs  0x404000", false},
      {"fistpl 0x8(%esp)", false},
      {"cmove  %edx,%eax", false},
      {"rep stos %eax,%es:(%edi)", false},
      {"kmovw  %eax,%k1", true},
      {"cpuid", false},
  };
  for (const auto& c : cases) {
    std::string mnemonic;
    EXPECT_EQ(NeedsSseOrLater(c.text, &mnemonic), c.later) << c.text;
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 4 || (argc - 1) % 3 != 0) {
    std::fprintf(stderr, "usage: %s [gtest options] (NAME LISTING MAP)...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i + 2 < argc; i += 3) g_programs.push_back({argv[i], argv[i + 1], argv[i + 2]});
  return RUN_ALL_TESTS();
}
