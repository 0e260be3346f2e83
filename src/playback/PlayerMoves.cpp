// The buttons that move through the recording, the same on every
// platform: next goes to the end, previous to the start, step and back by a
// tenth of the length; stop leaves the recording where it is, as a media
// player's stop does.

#include "playback/Player.h"

namespace tarvelo {

void Player::stop()
{
    pause();
}

void Player::next()
{
    seekTo(lengthMs_);
}

void Player::previous()
{
    seekTo(0);
}

void Player::step()
{
    seekTo(positionMs() + lengthMs_ / 10);
}

void Player::back()
{
    seekTo(positionMs() - lengthMs_ / 10);
}

}  // namespace tarvelo
