#pragma once

#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "edit/TakePipeline.h"
#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"
#include "platform/sound/SoundDevice.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <memory>

namespace reelbox::test {

// Small synthetic takes (a flash and a click every second) opened in the editor model, which
// plays through the Test Output of the process's sound system.
class EditorModelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        sound = std::make_unique<SoundSystem>();
        library = std::make_unique<TakeLibrary>(home.filePath("library"), home.filePath("cache"));
    }

    Take makeTake(int overdubs = 0, bool audioOnlyOverdubs = false, double seconds = 3,
                  int channels = 2, QSize size = QSize(160, 90)) {
        SyntheticTakeOptions options;
        options.seconds = seconds;
        options.channels = channels;
        options.size = size;
        options.overdubs = overdubs;
        options.audioOnlyOverdubs = audioOnlyOverdubs;
        return makeSyntheticTake(*library, options);
    }

    // The model as it opens, its first run still to come.
    std::unique_ptr<TakeEditorModel> start(const Take& take) {
        return std::make_unique<TakeEditorModel>(take, library.get(), *sound, testOutputId());
    }

    std::unique_ptr<TakeEditorModel> open(const Take& take) {
        auto model = start(take);
        settle(*model);
        return model;
    }

    // Waits until nothing is pending and the player holds the preview.
    static void settle(TakeEditorModel& model) {
        ASSERT_TRUE(waitFor(
            [&] { return model.isIdle() && model.player()->status() != Player::Status::loading; }));
    }

    static void changeExportSettings(TakeEditorModel& model,
                                     const std::function<void(ExportSettings&)>& change) {
        ExportSettings settings = model.exportSettings();
        change(settings);
        model.setExportSettings(settings);
    }

    static QDir cache(const Take& take) { return QDir(TakePipeline::cacheFolder(take)); }

    QStringList mixFiles(const Take& take) const {
        return cache(take).entryList({"mix-*.caf"}, QDir::Files);
    }

    static TakeInfo saved(const Take& take) { return decodeTakeInfo(readFile(take.infoPath())); }

    TemporaryHome home;
    std::unique_ptr<SoundSystem> sound;
    std::unique_ptr<TakeLibrary> library;
};

} // namespace reelbox::test
