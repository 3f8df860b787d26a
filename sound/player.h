// Plays the file named by the sound setting through the media control
// interface: every play opens a fresh device, every stop closes it.
#ifndef HALVORY_SOUND_PLAYER_H
#define HALVORY_SOUND_PLAYER_H

void StopSound(void);
void StartSound(void);
void RestartSound(void);

#endif
