// The DLL names a PE file (PE32 or PE32+) imports, read from the file's bytes.
#ifndef VELMORA_TESTS_PE_IMPORTS_H
#define VELMORA_TESTS_PE_IMPORTS_H

#include <string>
#include <vector>

// Fills `dlls` with the names of the import table and of the delay-load import table, in file
// order. Returns false with a reason in `error` when the file is not a well-formed PE image.
bool ReadImportedDlls(const std::vector<unsigned char>& file, std::vector<std::string>* dlls,
                      std::string* error);

// One imported function: its DLL, and its name, or "#<ordinal>" when it is imported by number.
struct ImportedFunction {
  std::string dll;
  std::string function;
};

// Fills `functions` with every function of the import table and of the delay-load import
// table, in file order. Returns false with a reason in `error` as ReadImportedDlls does.
bool ReadImportedFunctions(const std::vector<unsigned char>& file,
                           std::vector<ImportedFunction>* functions, std::string* error);

#endif
