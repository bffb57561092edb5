-- ParamPorter's plant-wide history: every PC's transfers in one PostgreSQL database.
--
-- Run it once, as the owner of an empty database (or a superuser):
--
--     createdb paramporter
--     psql -d paramporter -v ON_ERROR_STOP=1 -f history-server.sql
--
-- It makes the schema "paramporter" and two roles without login, to grant to the logins:
--     paramporter_writer  what every PC uses: it may read and add entries, never change or
--                         remove one (no UPDATE, no DELETE, no TRUNCATE)
--     paramporter_reader  may read
-- e.g.  CREATE ROLE line_pc LOGIN PASSWORD '...' IN ROLE paramporter_writer;
--
-- The PCs keep their own history and forward each entry once; an entry is keyed by the PC's
-- installation (source) and its number there (local_id), so a PC that forwards an entry
-- twice adds it once. Each PC's entries form a chain of SHA-256 hashes exactly as its local
-- history computed them: `paramporter-cli history --server URI --verify` recomputes them.
-- The texts that come from the PC or the instrument are kept as the bytes recorded (bytea);
-- convert_from(serial, 'UTF8') shows them as text.

BEGIN;

CREATE SCHEMA paramporter;

-- The version of these tables; ParamPorter refuses a server set up by a newer version.
-- plant_id names this database: a PC pointed at another server forwards its history anew.
CREATE TABLE paramporter.schema_version (
    version integer NOT NULL,
    plant_id uuid NOT NULL DEFAULT gen_random_uuid(),
    set_up timestamptz NOT NULL DEFAULT now()
);
INSERT INTO paramporter.schema_version (version) VALUES (1);

CREATE TABLE paramporter.entry (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    source uuid NOT NULL,           -- the PC's installation
    local_id bigint NOT NULL CHECK (local_id > 0),
    source_host bytea NOT NULL,     -- the PC that forwarded it
    received timestamptz NOT NULL DEFAULT now(),
    time text NOT NULL,             -- UTC, 2026-12-08T14:03:07.412Z
    "user" bytea NOT NULL,
    host bytea NOT NULL,
    port bytea NOT NULL,
    action text NOT NULL CHECK (action IN ('upload', 'download')),
    scope text NOT NULL CHECK (scope IN ('system', 'part')),
    part text,
    serial bytea,
    generation bytea,
    result bytea NOT NULL,
    stopped_at_field integer,
    file bytea,                     -- the parameter file; null for a failed upload
    file_hash text,
    previous_hash text,
    hash text NOT NULL,
    UNIQUE (source, local_id)
);
CREATE INDEX entry_time ON paramporter.entry (time DESC, id DESC);
CREATE INDEX entry_serial ON paramporter.entry (serial, time DESC, id DESC);
CREATE INDEX entry_host ON paramporter.entry (source_host, time DESC, id DESC);

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'paramporter_writer') THEN
        CREATE ROLE paramporter_writer NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'paramporter_reader') THEN
        CREATE ROLE paramporter_reader NOLOGIN;
    END IF;
END
$$;

REVOKE ALL ON SCHEMA paramporter FROM PUBLIC;
GRANT USAGE ON SCHEMA paramporter TO paramporter_writer, paramporter_reader;
GRANT SELECT ON paramporter.schema_version, paramporter.entry
    TO paramporter_writer, paramporter_reader;
GRANT INSERT ON paramporter.entry TO paramporter_writer;

COMMIT;
