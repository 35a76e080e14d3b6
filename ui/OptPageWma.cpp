#include "ui/OptPageWma.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace quelvox::ui {

namespace {

QString FormatLabel(int rate, int bitrate, int channels) {
    return COptPageWma::tr("%1 Hz, %2 kbps, %3")
        .arg(rate)
        .arg(bitrate / 1000)
        .arg(channels == 1 ? COptPageWma::tr("单声") : COptPageWma::tr("立体声"));
}

}  // namespace

COptPageWma::COptPageWma(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("WMA/WMV/ASF"), services, parent), binding_(s) {}

void COptPageWma::Build() {
    QGroupBox* group = AddGroup(tr("编码选项"));
    auto* g = new QVBoxLayout(group);
    formats_ = new QComboBox(group);
    formats_->setObjectName("wmaFormat");
    auto* label = new QLabel(tr("编码选项: (采样率, 比特率, 声道)(&E)"), group);
    label->setBuddy(formats_);
    g->addWidget(label);
    g->addWidget(formats_);

    // The list's items stand for several values at once: the page sets
    // them itself.
    for (const SettingDecl* decl : {&setting::WMAAutoEncParam, &setting::WMASampleRate,
                                    &setting::WMABitRate, &setting::WMAChannels})
        binding_.Keep(*decl);
    const CSettings& v = binding_.Values();

    formats_->addItem(tr("自动 (程序将自动选择最佳方案)"), kAutoItem);
    int selected = v.WMAAutoEncParam == 1 ? 0 : -1;

    bool available = false;
    if (services_.wmaRuntimeCheck) {
        available = services_.wmaRuntimeCheck();
    } else if (services_.wmaFormats) {
        available = !services_.wmaFormats->empty() || BuildWmaFormatList(*services_.wmaFormats);
    }
    if (available && services_.wmaFormats) {
        const WmaFormatList& list = *services_.wmaFormats;
        for (size_t i = 0; i < list.size(); ++i) {
            const WmaFormatItem& item = list[i];
            if (item.bitrate < 1000) continue;
            formats_->addItem(
                FormatLabel(item.mediaType.samplesPerSec, item.bitrate, item.mediaType.channels),
                static_cast<int>(i));
            if (v.WMAAutoEncParam == 0 && item.mediaType.samplesPerSec == v.WMASampleRate &&
                item.bitrate / 1000 == v.WMABitRate / 1000 &&
                item.mediaType.channels == v.WMAChannels) {
                selected = formats_->count() - 1;
            }
        }
    }
    // A manual choice the layer does not offer now stays visible and
    // selected, so that looking at the page does not discard it.
    if (v.WMAAutoEncParam != 1 && selected < 0) {
        formats_->addItem(FormatLabel(v.WMASampleRate, v.WMABitRate, v.WMAChannels), kStoredItem);
        selected = formats_->count() - 1;
    }
    formats_->setCurrentIndex(selected);
    connect(formats_, &QComboBox::activated, this, [this] { userChose_ = true; });
}

void COptPageWma::OnApply() {
    // Only a choice the user made changes the stored values.
    if (!userChose_) return;
    const int value = formats_->currentIndex() >= 0 ? formats_->currentData().toInt() : kAutoItem;
    CSettings& v = binding_.Edit();
    if (value == kAutoItem) {
        v.WMAAutoEncParam = 1;
    } else if (value == kStoredItem) {
        v.WMAAutoEncParam = 0;
    } else {
        const WmaFormatItem& item = (*services_.wmaFormats)[static_cast<size_t>(value)];
        v.WMASampleRate = item.mediaType.samplesPerSec;
        v.WMABitRate = item.bitrate;
        v.WMAChannels = item.mediaType.channels;
        v.WMAAutoEncParam = 0;
    }
}

void COptPageWma::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    binding_.StoreTo(s);
}

}  // namespace quelvox::ui
