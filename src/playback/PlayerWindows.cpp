// The player of the Windows build before its DirectShow graph exists: every
// file is refused with that reason, and the buttons do nothing.

#include "playback/Player.h"

namespace tarvelo {

struct Player::Pipeline {};

Player::Player() = default;
Player::~Player() = default;

void Player::open(const QString&)
{
    close();
    throw PlayerError("this build of the library plays no recordings yet");
}

void Player::close()
{
    pipeline_.reset();
    lengthMs_ = 0;
}

void Player::play() {}
void Player::pause() {}
void Player::stop() {}
void Player::next() {}
void Player::previous() {}
void Player::step() {}
void Player::back() {}
void Player::seekTo(int64_t) {}

int64_t Player::positionMs() const
{
    return 0;
}

bool Player::playing() const
{
    return false;
}

}  // namespace tarvelo
