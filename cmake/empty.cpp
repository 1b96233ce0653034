// Lets a folder library exist before its first unit arrives.
