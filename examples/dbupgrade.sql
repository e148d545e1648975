/* Example upgrade script for dbupgrade (dbupgrade.sql beside the executable, or the file
   named by a first argument ending in ".sql").
   Statements are separated by blank lines; each one is executed and committed on its own.
   There is no terminator character. A blank line inside a string, a comment, parentheses
   or a trigger's or procedure's body belongs to the statement. Comments may stand inside a
   statement, as here, or alone between blank lines: such a paragraph is skipped.
   A statement of the form  VAR name = value  declares a script variable; the name starts
   with an at sign. The value is a literal text, or the first column of the first row of a
   SELECT. Later statements refer to the variable by its name, and the name is replaced by
   the value, as plain text, before the statement is sent. A VAR statement takes no comment.
   This script sets up a version table in an empty database and raises its version. */
CREATE TABLE DB_VERSION (
  VERSION INTEGER NOT NULL,
  NOTE VARCHAR(80)
)

INSERT INTO DB_VERSION (VERSION, NOTE) VALUES (0, 'created by the example script')

VAR @version = SELECT MAX(VERSION) FROM DB_VERSION

VAR @note = 'upgraded by dbupgrade'

/* Each statement sees the variables declared before it. */
UPDATE DB_VERSION SET VERSION = @version + 1, NOTE = @note
