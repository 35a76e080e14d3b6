#include "ui/PageOptGeneral.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Prompts.h"

namespace quelvox::ui {

namespace {

// Index of a radio group for a stored value; values outside 0..count-1
// show as `fallback`.
int RadioIndex(int stored, int count, int fallback) {
    return stored >= 0 && stored < count ? stored : fallback;
}

}  // namespace

COptGeneralPage::COptGeneralPage(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("常规"), services, parent) {
    v_.MonoType = s.MonoType;
    v_.EnableExtFilter = s.EnableExtFilter;
    v_.FilterExts = s.FilterExts;
    v_.DoNotLoadHiddenFiles = s.DoNotLoadHiddenFiles;
    v_.EnableDTSForCDA = s.EnableDTSForCDA;
    v_.EnableSkipLength = s.EnableSkipLength;
    v_.SkipLength = s.SkipLength;
    v_.EnableConvertLength = s.EnableConvertLength;
    v_.ConvertLength = s.ConvertLength;
    v_.VolumeType = s.VolumeType;
    v_.Volume = s.Volume;
    v_.Resampler = s.Resampler == 1 ? 1 : 0;
    v_.SimultaneousFiles = FilesAtOnce(s);
    v_.Language = s.Language >= 0 && s.Language <= 2 ? s.Language : 0;
}

std::string COptGeneralPage::CleanFilterText(std::string_view text) {
    std::string joined;
    std::string piece;
    auto flush = [&] {
        std::string_view p = piece;
        if (p.starts_with("*.")) {
            p.remove_prefix(2);
        } else if (p.starts_with(".")) {
            p.remove_prefix(1);
        }
        if (!p.empty()) {
            if (!joined.empty()) joined += ',';
            joined += p;
        }
        piece.clear();
    };
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (c == ',' || c == ';') {
            flush();
        } else {
            piece += c;
        }
    }
    flush();
    return joined;
}

void COptGeneralPage::Build() {
    QGroupBox* general = AddGroup(tr("常规"));
    auto* g = new QVBoxLayout(general);

    filterOn_ = new QCheckBox(tr("对\"添加文件夹\"和拖/放仅添加以下文件扩展名(&O)"), general);
    filterOn_->setObjectName("filterOn");
    filterText_ = new QLineEdit(general);
    filterText_->setObjectName("filterText");
    auto* hint =
        new QLabel(tr("注意: 使用逗号 (,) 分隔多个扩展名. 例如: wav,mp3,m4a,aac"), general);
    hidden_ = new QCheckBox(tr("不加载隐藏文件(&D)"), general);
    hidden_->setObjectName("hiddenFiles");
    cdaAsDts_ = new QCheckBox(tr("使用 DTS 到解码 CDA 文件(&U)"), general);
    cdaAsDts_->setObjectName("cdaAsDts");
    g->addWidget(filterOn_);
    auto* filterRow = new QVBoxLayout;
    filterRow->setContentsMargins(20, 0, 0, 0);
    filterRow->addWidget(filterText_);
    filterRow->addWidget(hint);
    g->addLayout(filterRow);
    g->addWidget(hidden_);
    g->addWidget(cdaAsDts_);

    auto* monoRow = new QHBoxLayout;
    monoRow->addWidget(new QLabel(tr("当转换双通道为单通道时, 输出声道等于:"), general));
    auto* help = new QPushButton(tr("?"), general);
    help->setObjectName("monoHelp");
    help->setFixedWidth(help->fontMetrics().horizontalAdvance(QStringLiteral("?")) + 16);
    monoRow->addWidget(help);
    monoRow->addStretch(1);
    g->addLayout(monoRow);
    mono_ = new QButtonGroup(this);
    auto* monoButtons = new QHBoxLayout;
    monoButtons->setContentsMargins(20, 0, 0, 0);
    const QString monoTexts[] = {tr("(L+R)/双声道(默认)(&2)"), tr("左声道(&L)"), tr("右声道(&R)")};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(monoTexts[i], general);
        radio->setObjectName(QStringLiteral("mono%1").arg(i));
        mono_->addButton(radio, i);
        monoButtons->addWidget(radio);
    }
    monoButtons->addStretch(1);
    g->addLayout(monoButtons);

    auto* limits = new QGridLayout;
    skipOn_ = new QCheckBox(tr("先跳过(&S)"), general);
    skipOn_->setObjectName("skipOn");
    skip_ = MakeSpin(0, 2147483647, 100, general);
    skip_->setObjectName("skip");
    lengthOn_ = new QCheckBox(tr("仅转换(&C)"), general);
    lengthOn_->setObjectName("lengthOn");
    length_ = MakeSpin(0, 2147483647, 100, general);
    length_->setObjectName("length");
    limits->addWidget(skipOn_, 0, 0);
    limits->addWidget(skip_, 0, 1);
    limits->addWidget(new QLabel(tr("毫秒(每个文件) (1 秒 = 1000 毫秒)"), general), 0, 2);
    limits->addWidget(lengthOn_, 1, 0);
    limits->addWidget(length_, 1, 1);
    limits->addWidget(new QLabel(tr("毫秒长度(每个文件) (1 秒 = 1000 毫秒)"), general), 1, 2);
    limits->setColumnStretch(2, 1);
    g->addLayout(limits);

    // The sample-rate converter: SoX's is the default, libresample gives the
    // outputs of earlier versions.
    auto* resamplerRow = new QHBoxLayout;
    resamplerRow->addWidget(new QLabel(tr("重采样器:"), general));
    resampler_ = new QComboBox(general);
    resampler_->setObjectName("resampler");
    resampler_->addItem(tr("SoX 高质量 (默认)"));
    resampler_->addItem(tr("libresample (兼容)"));
    resamplerRow->addWidget(resampler_);
    resamplerRow->addSpacing(24);
    // Files converted at once, each on its own worker; 1 converts them one
    // after another.
    resamplerRow->addWidget(new QLabel(tr("同时转换的文件数:"), general));
    filesAtOnce_ = MakeSpin(1, 64, 1, general);
    filesAtOnce_->setObjectName("filesAtOnce");
    resamplerRow->addWidget(filesAtOnce_);
    resamplerRow->addStretch(1);
    g->addLayout(resamplerRow);

    // The language of the program's texts: the system's, or one chosen.
    // Each language is named in itself. The windows are built in the
    // language chosen at start-up, so a change shows at the next start.
    auto* languageRow = new QHBoxLayout;
    auto* languageLabel = new QLabel(tr("语言(&G):"), general);
    language_ = new QComboBox(general);
    language_->setObjectName("language");
    language_->addItem(tr("系统语言"));
    language_->addItem(QStringLiteral("中文"));
    language_->addItem(QStringLiteral("English"));
    languageLabel->setBuddy(language_);
    languageRow->addWidget(languageLabel);
    languageRow->addWidget(language_);
    languageRow->addWidget(new QLabel(tr("(下次启动时生效)"), general));
    languageRow->addStretch(1);
    g->addLayout(languageRow);

    QGroupBox* volumeGroup = AddGroup(tr("音量"));
    auto* vl = new QGridLayout(volumeGroup);
    volumeType_ = new QButtonGroup(this);
    const QString volumeTexts[] = {tr("自动标准化音量以便所有输出文件具有相同音量(&N)"),
                                   tr("手动调整音量(&A)"), tr("保持原有音量 (不调整音量)(&K)")};
    auto* radios = new QVBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(volumeTexts[i], volumeGroup);
        radio->setObjectName(QStringLiteral("volumeType%1").arg(i));
        volumeType_->addButton(radio, i);
        radios->addWidget(radio);
    }
    vl->addLayout(radios, 0, 0, 1, 4);
    volume_ = new CStepSpin(1, 10, 32767, 10, volumeGroup);
    volume_->setObjectName("volume");
    vl->addWidget(volume_, 1, 0, Qt::AlignTop);
    vl->addWidget(new QLabel(tr("%"), volumeGroup), 1, 1, Qt::AlignTop);
    vl->addWidget(
        new QLabel(tr("< 100% - 减小音量\n= 100% - 不改变\n> 100% - 提高音量"), volumeGroup), 1, 2);
    vl->setColumnStretch(3, 1);

    mono_->button(RadioIndex(v_.MonoType, 3, 0))->setChecked(true);
    filterOn_->setChecked(v_.EnableExtFilter != 0);
    filterText_->setText(FromStd(v_.FilterExts));
    hidden_->setChecked(v_.DoNotLoadHiddenFiles != 0);
    cdaAsDts_->setChecked(v_.EnableDTSForCDA != 0);
    skipOn_->setChecked(v_.EnableSkipLength != 0);
    skip_->setValue(v_.SkipLength);
    lengthOn_->setChecked(v_.EnableConvertLength != 0);
    length_->setValue(v_.ConvertLength);
    volumeType_->button(v_.VolumeType == 0 || v_.VolumeType == 1 ? v_.VolumeType : 2)
        ->setChecked(true);
    volume_->setValue(v_.Volume);
    resampler_->setCurrentIndex(v_.Resampler);
    filesAtOnce_->setValue(std::clamp(v_.SimultaneousFiles, 1, 64));
    language_->setCurrentIndex(v_.Language);
    UpdateEnabling();

    connect(filterOn_, &QCheckBox::clicked, this, [this] {
        UpdateEnabling();
        if (filterOn_->isChecked()) filterText_->setFocus();
    });
    connect(skipOn_, &QCheckBox::clicked, this, [this] {
        UpdateEnabling();
        if (skipOn_->isChecked()) skip_->setFocus();
    });
    connect(lengthOn_, &QCheckBox::clicked, this, [this] {
        UpdateEnabling();
        if (lengthOn_->isChecked()) length_->setFocus();
    });
    connect(volumeType_, &QButtonGroup::idClicked, this, [this] {
        UpdateEnabling();
        volume_->setFocus();
    });
    connect(help, &QPushButton::clicked, this, [this] {
        services_.prompts->Information(
            this,
            tr("In general, the output sound equals to \"(L+R)/2,\" which contains left and right "
               "channels.\n\n\"L channel\" means the program outputs left channel of original "
               "stereo file. And \"R channel\" means right channel. It's very useful when you "
               "want to convert a stereo file into two files that contains left and right "
               "channels distinguishingly."));
    });
}

void COptGeneralPage::UpdateEnabling() {
    filterText_->setEnabled(filterOn_->isChecked());
    skip_->setEnabled(skipOn_->isChecked());
    length_->setEnabled(lengthOn_->isChecked());
    volume_->setEnabled(volumeType_->checkedId() == 1);
}

void COptGeneralPage::TakeControls() {
    // A half-typed number still in an edit counts as what it shows.
    skip_->interpretText();
    length_->interpretText();
    volume_->interpretText();
    v_.MonoType = mono_->checkedId();
    v_.EnableExtFilter = filterOn_->isChecked() ? 1 : 0;
    v_.FilterExts = CleanFilterText(ToStd(filterText_->text()));
    filterText_->setText(FromStd(v_.FilterExts));
    v_.DoNotLoadHiddenFiles = hidden_->isChecked() ? 1 : 0;
    v_.EnableDTSForCDA = cdaAsDts_->isChecked() ? 1 : 0;
    v_.EnableSkipLength = skipOn_->isChecked() ? 1 : 0;
    v_.SkipLength = skip_->value();
    v_.EnableConvertLength = lengthOn_->isChecked() ? 1 : 0;
    v_.ConvertLength = length_->value();
    v_.VolumeType = volumeType_->checkedId();
    v_.Volume = volume_->value();
    v_.Resampler = resampler_->currentIndex() == 1 ? 1 : 0;
    filesAtOnce_->interpretText();
    v_.SimultaneousFiles = filesAtOnce_->value();
    v_.Language = language_->currentIndex();
}

bool COptGeneralPage::OnLeave() {
    TakeControls();
    if (v_.EnableExtFilter && v_.FilterExts.empty()) {
        services_.prompts->Warning(this, tr("请输入您需要过滤的文件扩展名."));
        filterText_->setFocus();
        return false;
    }
    if (v_.EnableConvertLength && v_.ConvertLength == 0) {
        services_.prompts->Warning(this, tr("转换的长度必须大于 0 毫秒."));
        length_->setFocus();
        return false;
    }
    return true;
}

void COptGeneralPage::OnApply() { TakeControls(); }

void COptGeneralPage::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    s.MonoType = v_.MonoType;
    s.EnableExtFilter = v_.EnableExtFilter;
    s.FilterExts = v_.FilterExts;
    s.DoNotLoadHiddenFiles = v_.DoNotLoadHiddenFiles;
    s.EnableDTSForCDA = v_.EnableDTSForCDA;
    s.EnableSkipLength = v_.EnableSkipLength;
    s.SkipLength = v_.SkipLength;
    s.EnableConvertLength = v_.EnableConvertLength;
    s.ConvertLength = v_.ConvertLength;
    s.VolumeType = v_.VolumeType;
    s.Volume = v_.Volume;
    s.Resampler = v_.Resampler;
    s.SimultaneousFiles = v_.SimultaneousFiles;
    s.Language = v_.Language;
}

}  // namespace quelvox::ui
