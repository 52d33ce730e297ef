#include "record/guide_rules_dlg.h"

#include "guide/guide_download.h"
#include "guide/guide_refresh.h"
#include "platform/messages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <ctime>

namespace {

int64_t Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

QPushButton* AddButton(QHBoxLayout* row, const char* text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    row->addWidget(button);
    return button;
}

} // namespace

CGuideRulesDlg::CGuideRulesDlg(QWidget* parent, const std::string& databasePath) : QDialog(parent)
{
    setWindowTitle("Guide and Rules");
    auto* layout = new QVBoxLayout(this);
    source_ = new QLabel(this);
    source_->setObjectName("guideSource");
    source_->setWordWrap(true);
    layout->addWidget(source_);
    guide_ = new QListWidget(this);
    guide_->setObjectName("guideOnNow");
    layout->addWidget(new QLabel("On now:", this));
    layout->addWidget(guide_);
    layout->addLayout(CreateGuideButtons());
    rules_ = new QListWidget(this);
    rules_->setObjectName("recordingRules");
    layout->addWidget(new QLabel("Recording rules:", this));
    layout->addWidget(rules_);
    layout->addLayout(CreateRuleButtons());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    std::string error;
    store_ = GuideStore::Open(databasePath.empty() ? GuideDatabasePath() : databasePath, error);
    if (!store_)
        Told(error);
    Reload(Now());
}

QLayout* CGuideRulesDlg::CreateGuideButtons()
{
    auto* row = new QHBoxLayout;
    connect(AddButton(row, "Record", "recordOnce", this), &QPushButton::clicked, this, [this] { RecordChosen(false); });
    connect(AddButton(row, "Record Series", "recordSeries", this), &QPushButton::clicked, this,
            [this] { RecordChosen(true); });
    connect(AddButton(row, "Import...", "importGuide", this), &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getOpenFileName(this, "Import a Guide", {}, "XMLTV (*.xml *.xml.gz *.gz)");
        if (!chosen.isEmpty())
            Import(QFile::encodeName(chosen).toStdString());
    });
    connect(AddButton(row, "Refresh Now", "refreshGuide", this), &QPushButton::clicked, this, [this] { Import({}); });
    return row;
}

QLayout* CGuideRulesDlg::CreateRuleButtons()
{
    auto* row = new QHBoxLayout;
    connect(AddButton(row, "Remove", "removeRule", this), &QPushButton::clicked, this,
            &CGuideRulesDlg::RemoveChosenRule);
    connect(AddButton(row, "Win Conflicts", "preferRule", this), &QPushButton::clicked, this,
            &CGuideRulesDlg::PreferChosenRule);
    row->addStretch();
    return row;
}

void CGuideRulesDlg::Reload(int64_t now)
{
    guide_->clear();
    rules_->clear();
    if (!store_)
        return;
    const std::string source = store_->Fact(kGuideSource);
    source_->setText(QString::fromStdString(source.empty() ? "No guide was imported yet."
                                                            : "The guide comes from " + source + "."));
    onNow_ = store_->OnAt(now);
    for (const GuideEntry& entry : onNow_)
        guide_->addItem(QString::fromStdString(DescribeEntry(entry)));
    RecordingRules rules(*store_);
    const std::vector<PlannedRecording> plan = rules.Plan(now);
    for (const RecordingRule& rule : rules.All()) {
        std::string text = DescribeRule(rule);
        for (const PlannedRecording& planned : plan)
            if (planned.ruleId == rule.id)
                text += "\n  " + DescribePlanned(planned);
        auto* item = new QListWidgetItem(QString::fromStdString(text), rules_);
        item->setData(Qt::UserRole, static_cast<qlonglong>(rule.id));
    }
}

void CGuideRulesDlg::RecordChosen(bool series)
{
    const int row = guide_->currentRow();
    if (!store_ || row < 0 || row >= static_cast<int>(onNow_.size()))
        return Told("Choose a programme in the guide first.");
    RecordingRule rule;
    rule.title = onNow_[row].programme.title;
    rule.channel = onNow_[row].channel;
    rule.series = series;
    rule.newOnly = series;
    rule.showing = series ? 0 : onNow_[row].programme.start;
    RecordingRules rules(*store_);
    if (rules.Add(rule) == 0)
        Told("The rule could not be stored: " + rules.Error());
    Reload(Now());
}

int64_t CGuideRulesDlg::ChosenRule() const
{
    const QListWidgetItem* item = rules_->currentItem();
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void CGuideRulesDlg::RemoveChosenRule()
{
    ChangeChosenRule(&RecordingRules::Remove);
}

void CGuideRulesDlg::PreferChosenRule()
{
    ChangeChosenRule(&RecordingRules::Prefer);
}

void CGuideRulesDlg::ChangeChosenRule(bool (RecordingRules::*change)(int64_t))
{
    const int64_t id = ChosenRule();
    if (!store_ || id == 0)
        return Told("Choose a rule first.");
    RecordingRules rules(*store_);
    if (!(rules.*change)(id))
        Told(rules.Error());
    Reload(Now());
}

void CGuideRulesDlg::Import(const std::string& source)
{
    if (!store_)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const GuideImportResult result = source.empty() ? RefreshGuide(*store_, EnabledLineup())
                                                    : ImportGuideFrom(*store_, source, EnabledLineup());
    QApplication::restoreOverrideCursor();
    if (!result.imported)
        Told("The guide was not imported, and the old guide stays: " + result.error);
    Reload(Now());
}

void CGuideRulesDlg::Told(const std::string& failure)
{
    ShowMessage(failure.c_str(), 1, 1);
}
