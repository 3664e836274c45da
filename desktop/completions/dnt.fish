# SPDX-License-Identifier: GPL-3.0-or-later
# fish completion of dnt, DirNote's command: commands, their options, the values of --format,
# --to, --from and --encoding, and paths (folders where only a folder is taken).

set -l commands get set ls find export import mirror help
complete -c dnt -f

complete -c dnt -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Print the help'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -s V -l version -d 'Print the version'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a get -d 'Print the descriptions of files and folders'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a set -d 'Write the description of a file or folder'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a ls -d 'List a folder with its descriptions'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a find -d 'Search the per-user index of descriptions'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a export -d 'Print descriptions as Markdown, CSV or JSON, or write them to xattr'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a import -d 'Take descriptions over from descript.ion or xattr'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a mirror -d 'Keep file comments equal to descriptions: on, off or status'
complete -c dnt -n "not __fish_seen_subcommand_from $commands" -a help -d 'Print the help of dnt or of a command'

complete -c dnt -n "__fish_seen_subcommand_from $commands" -l help -d 'Print the help of the command'
complete -c dnt -n "__fish_seen_subcommand_from help" -a "$commands"

# Paths: any for get and set, folders for the others.
complete -c dnt -n "__fish_seen_subcommand_from get set" -F
complete -c dnt -n "__fish_seen_subcommand_from ls export import" -a "(__fish_complete_directories)"

complete -c dnt -n "__fish_seen_subcommand_from ls" -l undescribed -d 'Only the entries without a description'
complete -c dnt -n "__fish_seen_subcommand_from ls" -l json -d 'A JSON array of the entries'
complete -c dnt -n "__fish_seen_subcommand_from find" -l below -x -a "(__fish_complete_directories)" -d 'Only the matches in this folder tree'
complete -c dnt -n "__fish_seen_subcommand_from export import mirror" -l recursive -d 'The subfolders too'
# mirror: the setting first, then (for on) a folder.
complete -c dnt -n "__fish_seen_subcommand_from mirror; and not __fish_seen_subcommand_from on off status" -a 'on off status'
complete -c dnt -n "__fish_seen_subcommand_from mirror; and __fish_seen_subcommand_from on" -a "(__fish_complete_directories)"
complete -c dnt -n "__fish_seen_subcommand_from export" -l format -x -a 'md csv json' -d 'The output format'
complete -c dnt -n "__fish_seen_subcommand_from export" -l to -x -a xattr -d 'Write into extended attributes'
complete -c dnt -n "__fish_seen_subcommand_from import" -l from -x -a 'descript.ion xattr' -d 'The source of the descriptions'
complete -c dnt -n "__fish_seen_subcommand_from import" -l overwrite -d 'Replace the descriptions the folder has'
complete -c dnt -n "__fish_seen_subcommand_from import" -l dry-run -d 'Print what would be done, write nothing'
complete -c dnt -n "__fish_seen_subcommand_from import" -l encoding -x -a 'utf-8 cp850 cp1252' -d 'The encoding of descript.ion'
