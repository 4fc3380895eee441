#pragma once

#include <string>

// Makes sure that nobody but the user can read, change or replace the store
// before it is opened, the way careful Unix programs treat their private
// files. Throws std::runtime_error ("refusing PATH: REASON"), changing
// nothing, when
// - the folder holding the data directory can be written by anybody and has
//   no sticky bit, or belongs to another user who is not root;
// - the data directory, the database file or one of its journals belongs to
//   another user, can be written by group or others, or is a symbolic link
//   (a journal also when it is no regular file).
// Otherwise takes away the group's and others' read and search bits where
// there are any (an old copy, a restored backup), saying so once on standard
// error for each path. What does not exist yet is left to be created.
void SecureStorePlace(const std::string& directory, const std::string& databasePath);
