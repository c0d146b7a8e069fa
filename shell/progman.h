// Program Manager shortcuts: the group "Velk" and its five items, created
// over DDE with the "PROGMAN" service, one conversation per command.
#ifndef VELK_SHELL_PROGMAN_H
#define VELK_SHELL_PROGMAN_H

// Sends one execute command; 1 when the transaction succeeded.
int ProgmanExecute(const char* command);

// Sends the whole sequence; 1 when every command that counts succeeded, 0
// at the first that failed (later commands are not sent).
int CreateProgmanShortcuts();

#endif
