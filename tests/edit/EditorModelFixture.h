#pragma once

#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"
#include "play/Player.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <memory>

namespace reelbox::test {

// Small synthetic takes (a flash and a click every second) opened in the editor model.
class EditorModelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        library = std::make_unique<TakeLibrary>(home.filePath("library"), home.filePath("cache"));
    }

    Take makeTake(int overdubs = 0, bool audioOnlyOverdubs = false, double seconds = 3) {
        SyntheticTakeOptions options;
        options.seconds = seconds;
        options.channels = 2;
        options.size = QSize(160, 90);
        options.overdubs = overdubs;
        options.audioOnlyOverdubs = audioOnlyOverdubs;
        return makeSyntheticTake(*library, options);
    }

    std::unique_ptr<TakeEditorModel> open(const Take& take) {
        auto model = std::make_unique<TakeEditorModel>(take, library.get());
        settle(*model);
        return model;
    }

    // Waits until nothing is pending and the player holds the preview.
    static void settle(TakeEditorModel& model) {
        ASSERT_TRUE(waitFor(
            [&] { return model.isIdle() && model.player()->status() != Player::Status::loading; }));
    }

    QStringList mixFiles(const Take& take) const {
        return QDir(QDir(TakeLibrary::defaultCacheRoot()).filePath(take.folderName()))
            .entryList({"mix-*.caf"}, QDir::Files);
    }

    static TakeInfo saved(const Take& take) { return decodeTakeInfo(readFile(take.infoPath())); }

    TemporaryHome home;
    std::unique_ptr<TakeLibrary> library;
};

} // namespace reelbox::test
