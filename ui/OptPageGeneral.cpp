#include "ui/OptPageGeneral.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "l10n/Language.h"
#include "ui/Prompts.h"

namespace quelvox::ui {

COptPageGeneral::COptPageGeneral(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("常规"), services, parent), binding_(s) {
    // These are stored valid on OK whether or not the page was shown.
    for (const SettingDecl* decl :
         {&setting::Resampler, &setting::SimultaneousFiles, &setting::Language}) {
        binding_.KeepValid(*decl);
    }
}

std::string COptPageGeneral::CleanFilterText(std::string_view text) {
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

void COptPageGeneral::Build() {
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
    skip_ = MakeSpin(100, general);
    skip_->setObjectName("skip");
    lengthOn_ = new QCheckBox(tr("仅转换(&C)"), general);
    lengthOn_->setObjectName("lengthOn");
    length_ = MakeSpin(100, general);
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
    resampler_->addItem(tr("SoX 高质量 (默认)"), 0);
    resampler_->addItem(tr("libresample (兼容)"), 1);
    resamplerRow->addWidget(resampler_);
    resamplerRow->addSpacing(24);
    // Rounding to fewer bits than the source has adds TPDF dither.
    dither_ = new QCheckBox(tr("降低位深度时抖动"), general);
    dither_->setObjectName("ditherOnReduce");
    resamplerRow->addWidget(dither_);
    resamplerRow->addSpacing(24);
    // Files converted at once, each on its own worker; 1 converts them one
    // after another.
    resamplerRow->addWidget(new QLabel(tr("同时转换的文件数:"), general));
    filesAtOnce_ = MakeSpin(1, general);
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
    language_->addItem(tr("系统语言"), kLanguageSystem);
    language_->addItem(QStringLiteral("中文"), kLanguageChinese);
    language_->addItem(QStringLiteral("English"), kLanguageEnglish);
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
                                   tr("手动调整音量(&A)"), tr("保持原有音量 (不调整音量)(&K)"),
                                   tr("统一响度 (EBU R128)")};
    auto* radios = new QVBoxLayout;
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(volumeTexts[i], volumeGroup);
        radio->setObjectName(QStringLiteral("volumeType%1").arg(i));
        volumeType_->addButton(radio, i);
        radios->addWidget(radio);
    }
    vl->addLayout(radios, 0, 0, 1, 4);
    volume_ = new CStepSpin(setting::Volume.minimum, 10, setting::Volume.maximum, 10, volumeGroup);
    volume_->setObjectName("volume");
    vl->addWidget(volume_, 1, 0, Qt::AlignTop);
    vl->addWidget(new QLabel(tr("%"), volumeGroup), 1, 1, Qt::AlignTop);
    vl->addWidget(
        new QLabel(tr("< 100% - 减小音量\n= 100% - 不改变\n> 100% - 提高音量"), volumeGroup), 1, 2);
    vl->setColumnStretch(3, 1);

    // The loudness every output is brought to, and the true peak it may
    // reach; then, for every mode, one measure for all files and the
    // ReplayGain tags.
    auto* loudnessRow = new QHBoxLayout;
    loudnessRow->setContentsMargins(20, 0, 0, 0);
    auto* targetLabel = new QLabel(tr("目标响度:"), volumeGroup);
    loudnessTarget_ = MakeSpin(1, volumeGroup);
    loudnessTarget_->setObjectName("loudnessTarget");
    targetLabel->setBuddy(loudnessTarget_);
    loudnessRow->addWidget(targetLabel);
    loudnessRow->addWidget(loudnessTarget_);
    loudnessRow->addWidget(new QLabel(tr("LUFS"), volumeGroup));
    loudnessRow->addSpacing(24);
    auto* ceilingLabel = new QLabel(tr("真峰值上限:"), volumeGroup);
    ceiling_ = new QDoubleSpinBox(volumeGroup);
    ceiling_->setObjectName("truePeakCeiling");
    ceiling_->setDecimals(1);
    ceiling_->setSingleStep(0.1);
    ceiling_->setRange(setting::TruePeakCeiling.minimum * 0.1,
                       setting::TruePeakCeiling.maximum * 0.1);
    ceiling_->setValue(setting::TruePeakCeiling.Valid(binding_.Values().TruePeakCeiling) * 0.1);
    ceilingLabel->setBuddy(ceiling_);
    loudnessRow->addWidget(ceilingLabel);
    loudnessRow->addWidget(ceiling_);
    loudnessRow->addWidget(new QLabel(tr("dBTP"), volumeGroup));
    loudnessRow->addSpacing(24);
    // Off: the gain alone keeps the peak under the ceiling, and a file whose
    // peaks are too high for its loudness stays short of the target.
    limiter_ = new QCheckBox(tr("超过峰值上限时限幅"), volumeGroup);
    limiter_->setObjectName("loudnessLimiter");
    loudnessRow->addWidget(limiter_);
    loudnessRow->addStretch(1);
    vl->addLayout(loudnessRow, 2, 0, 1, 4);
    auto* measureRow = new QHBoxLayout;
    album_ = new QCheckBox(tr("所有文件作为一张专辑"), volumeGroup);
    album_->setObjectName("loudnessAlbum");
    replayGain_ = new QCheckBox(tr("写入 ReplayGain 标签"), volumeGroup);
    replayGain_->setObjectName("writeReplayGain");
    measureRow->addWidget(album_);
    measureRow->addSpacing(24);
    measureRow->addWidget(replayGain_);
    measureRow->addStretch(1);
    vl->addLayout(measureRow, 3, 0, 1, 4);
    binding_.KeepValid(setting::TruePeakCeiling);

    binding_.Bind(mono_, setting::MonoType);
    binding_.Bind(filterOn_, setting::EnableExtFilter);
    binding_.Bind(filterText_, setting::FilterExts, &CleanFilterText);
    binding_.Bind(hidden_, setting::DoNotLoadHiddenFiles);
    binding_.Bind(cdaAsDts_, setting::EnableDTSForCDA);
    binding_.Bind(skipOn_, setting::EnableSkipLength);
    binding_.Bind(skip_, setting::SkipLength);
    binding_.Bind(lengthOn_, setting::EnableConvertLength);
    binding_.Bind(length_, setting::ConvertLength);
    binding_.Bind(volumeType_, setting::VolumeType);
    binding_.Bind(volume_, setting::Volume);
    binding_.Bind(loudnessTarget_, setting::LoudnessTarget);
    binding_.Bind(limiter_, setting::LoudnessLimiter);
    binding_.Bind(album_, setting::LoudnessAlbum);
    binding_.Bind(replayGain_, setting::WriteReplayGain);
    binding_.Bind(resampler_, setting::Resampler);
    binding_.Bind(dither_, setting::DitherOnReduce);
    binding_.Bind(filesAtOnce_, setting::SimultaneousFiles);
    binding_.Bind(language_, setting::Language);
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
    connect(volumeType_, &QButtonGroup::idClicked, this, [this](int id) {
        UpdateEnabling();
        if (id == 1) volume_->setFocus();
        if (id == 3) loudnessTarget_->setFocus();
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

void COptPageGeneral::UpdateEnabling() {
    filterText_->setEnabled(filterOn_->isChecked());
    skip_->setEnabled(skipOn_->isChecked());
    length_->setEnabled(lengthOn_->isChecked());
    volume_->setEnabled(volumeType_->checkedId() == 1);
    loudnessTarget_->setEnabled(volumeType_->checkedId() == 3);
    ceiling_->setEnabled(volumeType_->checkedId() == 3);
    limiter_->setEnabled(volumeType_->checkedId() == 3);
}

void COptPageGeneral::TakeValues() {
    binding_.Take();
    ceiling_->interpretText();
    const double tenths = std::round(ceiling_->value() * 10.0);
    binding_.Edit().TruePeakCeiling = setting::TruePeakCeiling.Valid(
        static_cast<int>(std::clamp(tenths, -1000.0, 1000.0)));
}

bool COptPageGeneral::OnLeave() {
    TakeValues();
    const CSettings& v = binding_.Values();
    if (v.EnableExtFilter && v.FilterExts.empty()) {
        services_.prompts->Warning(this, tr("请输入您需要过滤的文件扩展名."));
        filterText_->setFocus();
        return false;
    }
    if (v.EnableConvertLength && v.ConvertLength == 0) {
        services_.prompts->Warning(this, tr("转换的长度必须大于 0 毫秒."));
        length_->setFocus();
        return false;
    }
    return true;
}

void COptPageGeneral::OnApply() { TakeValues(); }

void COptPageGeneral::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    binding_.StoreTo(s);
}

}  // namespace quelvox::ui
