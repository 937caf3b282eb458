// Libraries planted beside a copy of the program under system libraries' names
// (planted_library.cpp): each one that is loaded leaves "<its path>.loaded" beside itself.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// Removed with everything in it when it goes out of scope.
struct planted_folder {
  planted_folder() = default;
  planted_folder(const planted_folder&) = delete;
  planted_folder& operator=(const planted_folder&) = delete;
  ~planted_folder();
  std::wstring folder;                  // a folder of its own under the temporary folder
  std::wstring program;                 // the copy of the program in it
  std::vector<std::wstring> libraries;  // file names, e.g. uxtheme.dll
  bool wine = false;                    // whether Wine's search order settings were set
};

// The folder of its own, under the temporary folder, where an architecture's kit plants.
std::wstring planted_folder_name(const std::string& arch);

// Copies `program` and the named libraries from `library_dir` into a new `folder_name` under the
// temporary folder, and gives those libraries Windows' search order (a library found in the
// program's folder before the system's) for programs of that file name: Wine's per-program
// "DllOverrides" = "native,builtin". (WINEDLLOVERRIDES in the environment block of a program
// that this driver starts does not reach Wine's loader in that program; only the one that Wine
// itself was started with does.) On Windows, whose order that is, `wine` is false and no
// setting is touched. False when anything fails.
bool plant(const std::wstring& program, const std::wstring& library_dir,
           const std::vector<std::wstring>& libraries, const std::wstring& folder_name, bool wine,
           planted_folder* planted);
// The planted libraries that were loaded.
std::vector<std::wstring> loaded_libraries(const planted_folder& planted);
// Removes the folder with everything that was put or left in it, and the search order settings.
void remove_planted(const planted_folder& planted);
// What a killed run of this architecture's kit left planted: the folder when it is there, with the
// program's file name and the libraries that may lie in it, else one with an empty folder.
void left_planting(const std::string& arch, const std::wstring& program_name,
                   const std::vector<std::wstring>& libraries, planted_folder* planted);

}  // namespace e2e
