#pragma once
// "Guide and Rules", from the Recording Settings: where the guide comes
// from, what is on every matched channel now, and the recording rules with
// the recordings each will make or why not. A programme on now can be
// recorded once or as a series; a rule can be removed or made to win its
// conflicts; the guide can be imported from a file or refreshed. The
// schedule thread sees every change within a second.

#include "guide/recording_rules.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QListWidget;

class CGuideRulesDlg : public QDialog {
    Q_OBJECT
public:
    // The guide's database at path (empty: the program's own).
    explicit CGuideRulesDlg(QWidget* parent = nullptr, const std::string& databasePath = {});

    // What the lists show, at the moment now (UTC seconds).
    void Reload(int64_t now);
    // For the buttons: the programme chosen in the guide list becomes a rule.
    void RecordChosen(bool series);
    void RemoveChosenRule();
    void PreferChosenRule();
    // Imports the guide from a file or URL, or again from where it came.
    void Import(const std::string& source);

private:
    QLayout* CreateGuideButtons();
    QLayout* CreateRuleButtons();
    int64_t ChosenRule() const;
    void ChangeChosenRule(bool (RecordingRules::*change)(int64_t));
    void Told(const std::string& failure);

    std::unique_ptr<GuideStore> store_;
    QLabel* source_;
    QListWidget* guide_;
    QListWidget* rules_;
    std::vector<GuideEntry> onNow_;
};
