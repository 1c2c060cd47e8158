// The program's version information and history, read from the module's string table
// ($APPDESCRIPTION, $COPYRIGHT, $VERSION, $RELEASEDATE, $AUTHOR, $PTEXT, $TEXT entries
// from identifier 10000 on, until 11 identifiers in a row are empty).
#ifndef QVPA_BASE_APPLICATION_INFO_H_
#define QVPA_BASE_APPLICATION_INFO_H_

#include <memory>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/string_table.h"

namespace qvpa {

// One version of the history.
class tQV_ApplicationHistory {
 public:
  const std::u16string& Version() const { return fVersion; }
  void SetVersion(std::u16string aValue) { fVersion = std::move(aValue); }
  TDateTime ReleaseDate() const { return fReleaseDate; }
  void SetReleaseDate(TDateTime aValue) { fReleaseDate = aValue; }
  const std::u16string& Author() const { return fAuthor; }
  void SetAuthor(std::u16string aValue) { fAuthor = std::move(aValue); }
  const std::vector<std::u16string>& Text() const { return fText; }
  std::vector<std::u16string>& Text() { return fText; }

 private:
  std::u16string fVersion;
  TDateTime fReleaseDate = 0;
  std::u16string fAuthor;
  std::vector<std::u16string> fText;
};

class tQV_ApplicationInfo {
 public:
  tQV_ApplicationInfo() = default;
  tQV_ApplicationInfo(const tQV_ApplicationInfo&) = delete;
  tQV_ApplicationInfo& operator=(const tQV_ApplicationInfo&) = delete;

  // Reads the module's string table (LoadModuleString), or aSource. Adds to what is held.
  // Throws EQVError when a release date does not form a valid date.
  void Load();
  void Load(const StringSource& aSource);

  // "[" + Version + " - " + ReleaseDate as a short date + "]".
  std::u16string GetVersionString() const;
  std::u16string VersionString() const { return GetVersionString(); }

  const std::u16string& Description() const { return fDescription; }
  void SetDescription(std::u16string aValue) { fDescription = std::move(aValue); }
  const std::u16string& Copyright() const { return fCopyright; }
  void SetCopyright(std::u16string aValue) { fCopyright = std::move(aValue); }
  const std::u16string& Version() const { return fVersion; }
  void SetVersion(std::u16string aValue) { fVersion = std::move(aValue); }
  TDateTime ReleaseDate() const { return fReleaseDate; }
  void SetReleaseDate(TDateTime aValue) { fReleaseDate = aValue; }
  // Oldest first, one element per $VERSION entry.
  const std::vector<std::unique_ptr<tQV_ApplicationHistory>>& History() const { return fHistory; }

 private:
  std::u16string fDescription;
  std::u16string fCopyright;
  std::u16string fVersion;
  TDateTime fReleaseDate = 0;
  std::vector<std::unique_ptr<tQV_ApplicationHistory>> fHistory;
};

}  // namespace qvpa

#endif  // QVPA_BASE_APPLICATION_INFO_H_
