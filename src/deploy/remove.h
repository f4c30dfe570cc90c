// Removal mode: deletes the DLL backups that update mode left and their
// folder.
#ifndef VELMORA_DEPLOY_REMOVE_H
#define VELMORA_DEPLOY_REMOVE_H

// Deletes every entry matching install_dir\Backup\*.dll, reporting each
// deletion that fails, then removes the backup folder if it is empty.
// Shows nothing when everything succeeds.
void RemoveBackup();

#endif  // VELMORA_DEPLOY_REMOVE_H
