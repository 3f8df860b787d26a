// The settings kept between runs under HKEY_CURRENT_USER\Software\Orvel.
#ifndef HALVORY_CORE_STORE_H
#define HALVORY_CORE_STORE_H

#define STORE_KEY           "Software\\Orvel"
#define STORE_VALUE_WAIT    "Wait"
#define STORE_VALUE_SOUND   "SoundFile"

void ReadSettings(void);
void WriteSettings(void);

#endif
