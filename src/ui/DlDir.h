#pragma once
// The dialog that sets a download directory for the selected articles, with the history of
// directories chosen during this run.
#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;

namespace zev::ui {

enum TDlDirResult : int { ddOk = 1, ddCancel = 2, ddBestCsvMatch = 3 };

// The directory as the user typed it, made usable: blanks and one trailing "/" go, an
// empty text is the default directory, a text that is not absolute lies below the default
// directory, and the result is a clean path ending in "/".
std::string NormalizeDownloadDir(const std::string& typed, const std::string& defaultDir);

// The directories chosen during this run, most recent first.
std::vector<std::string>& DownloadDirHistory();

class TfrmDlDir : public QDialog {
  Q_OBJECT
 public:
  TfrmDlDir(const std::string& defaultDir, const std::string& current, const std::vector<std::string>& suggested,
            QWidget* parent = nullptr);
  QComboBox* Combo() const { return combo_; }
  QCheckBox* BestCsvMatch() const { return bestCsv_; }

 private:
  void Browse();

  QComboBox* combo_;
  QCheckBox* bestCsv_;
};

// Asks for the directory. On OK `directory` holds the normalized choice, which also
// heads the history.
int AskDownloadDirectory(const std::string& defaultDir, std::string& directory,
                         const std::vector<std::string>& suggested);

}  // namespace zev::ui
