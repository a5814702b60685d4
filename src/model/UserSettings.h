#pragma once

#include "model/Track.h"

#include <QString>
#include <optional>
#include <vector>

namespace reelbox::UserSettings {

// The user's choices remembered across launches, in Qt's settings for the organisation and
// application "Reelbox". Every key is named here and nowhere else; a missing or unreadable
// value reads as its default. Any thread (each call opens the settings on its own).

// "countdown": whole seconds before a recording starts; 3 by default.
int countdownSeconds();
void setCountdownSeconds(int seconds);

// "mirrorPreview": the camera preview shown as in a mirror; on by default.
bool mirrorPreview();
void setMirrorPreview(bool mirror);

// "cameraID" and "microphoneID": the chosen devices; none by default (none removes the key).
std::optional<QString> cameraID();
void setCameraID(const std::optional<QString>& id);
std::optional<QString> microphoneID();
void setMicrophoneID(const std::optional<QString>& id);

// "mix.<microphone id>": the channel mix last used with that microphone; none when it isn't
// stored or can't be read. A mix that can't be written is simply not remembered.
std::optional<std::vector<ChannelMix>> channelMix(const QString& microphoneID);
void setChannelMix(const QString& microphoneID, const std::vector<ChannelMix>& channels);

// "overdubVideo": overdubs record the camera too; on by default.
bool overdubVideo();
void setOverdubVideo(bool record);

// "overdubOutput": where overdubs play the take; none (the system output) by default.
std::optional<QString> overdubOutput();
void setOverdubOutput(const std::optional<QString>& id);

// "overdubNudge.<device id>": seconds an overdub recorded through that microphone is moved by;
// 0 by default. Storing throws reelbox::Error naming the file when it can't be written.
double overdubNudge(const QString& microphoneID);
void setOverdubNudge(const QString& microphoneID, double nudgeSeconds);

} // namespace reelbox::UserSettings
