-- ParamPorter's plant-wide history: every PC's transfers in one PostgreSQL database.
--
-- Run it with psql as the owner of the database (or a superuser), to set a new database up and,
-- the same way, to upgrade one set up by an earlier version (each step runs once):
--
--     createdb paramporter
--     psql -d paramporter -v ON_ERROR_STOP=1 -f history-server.sql
--
-- It makes the schema "paramporter" and roles without login, to grant to the logins:
--     paramporter_writer  what the PCs use, one login each: it adds entries through
--                         paramporter.add_entry() alone, which checks them, and may read them;
--                         it can change or remove nothing
--     paramporter_reader  may read
--     paramporter_admin   plant IT: registers the PCs (paramporter.register_pc) and binds the
--                         entries a server holds from before registration to their PC
--                         (paramporter.bind_source), names the people who sign
--                         (paramporter.register_person); what it did is recorded under its login
--     paramporter_approver  the people who approve, one login each: signs approvals and
--                         revocations (paramporter.sign) in a connection of their own (version 5)
-- e.g.  CREATE ROLE line_pc_1 LOGIN PASSWORD '...' IN ROLE paramporter_writer;
--       SELECT paramporter.register_pc('line-1', 'line_pc_1');
--
-- The PCs keep their own history and forward each entry once; an entry is keyed by the PC's
-- installation (source) and its number there (local_id). Each PC's entries form a chain of
-- SHA-256 hashes exactly as its local history computed them: add_entry() recomputes each hash,
-- takes an entry only as the next link of its PC's chain, and only from the login and host
-- plant IT registered for that PC (version 4); an entry it refuses there is kept, marked
-- refused, and counts for nothing. The server gives the IDs and the receipt time, and seals each row (every column the
-- PC did not hash) into a chain of its own per PC. `paramporter-cli history --server URI
-- --verify` recomputes both. Approvals and revocations of the plant's approved state are
-- entries of the same chains; paramporter.plant_setting holds the plant's settings, which the
-- PCs read and the database's owner writes (see version 3 below). The texts that come from the
-- PC or the instrument are kept as the bytes recorded (bytea); convert_from(serial, 'UTF8') shows
-- them as text.

\set ON_ERROR_STOP on
SET client_min_messages = warning;

SELECT NOT EXISTS (SELECT FROM pg_namespace WHERE nspname = 'paramporter') AS pp_new \gset
\if :pp_new
-- ---------------------------------------------------------------- version 1
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
\endif

SELECT version < 2 AS pp_step_2 FROM paramporter.schema_version \gset
\if :pp_step_2
-- ---------------------------------------------------------------- version 2
-- Entries only through add_entry(): each PC bound to its login, its chain checked on insert,
-- the server's own columns sealed; the plant listed by a time that follows each PC's chain.
BEGIN;

-- Every PC (installation) the server holds entries of: the login that forwards them and the
-- last entry held, the anchor of its chain. A history copied from another one (a disk image)
-- names the one it goes on from.
CREATE TABLE paramporter.source (
    source uuid PRIMARY KEY,
    login name,                     -- none for a PC not forwarding since the upgrade
    bound timestamptz,
    parent uuid,
    parent_local_id bigint,
    head_local_id bigint NOT NULL DEFAULT 0,
    head_hash text,
    head_seal text,
    head_order timestamptz
);

ALTER TABLE paramporter.entry
    ADD COLUMN format integer NOT NULL DEFAULT 1,  -- the PC's canonical text (hash)
    ADD COLUMN login name,                          -- the login that added it
    ADD COLUMN order_time timestamptz NOT NULL DEFAULT now(),
    ADD COLUMN seal text;

-- A PC's time, when it is one.
CREATE FUNCTION paramporter.pc_time(t text) RETURNS timestamptz
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    IF t !~ '^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{1,6})?Z$' THEN
        RETURN NULL;
    END IF;
    RETURN t::timestamptz;
EXCEPTION WHEN others THEN
    RETURN NULL;
END
$$;

-- Where an entry stands in the plant's listing: the PC's time, unless its clock disagrees
-- with the chain (set back) or with the server (ahead); then the server's receipt.
CREATE FUNCTION paramporter.ordering_time(t text, received timestamptz, previous timestamptz)
RETURNS timestamptz
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT CASE
        WHEN paramporter.pc_time(t) IS NULL
          OR paramporter.pc_time(t) > received + interval '5 minutes'
          OR paramporter.pc_time(t) < previous
        THEN greatest(received, previous)
        ELSE paramporter.pc_time(t)
    END
$$;

-- The seal of a row: what the server added (ID, receipt, order, login, forwarding host), the
-- PC's hash and the seal of the PC's entry before it.
CREATE FUNCTION paramporter.seal(e paramporter.entry, previous text) RETURNS text
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT encode(sha256(convert_to(
        'paramporter server entry 1' || E'\n' ||
        'id ' || e.id || E'\n' ||
        'source ' || e.source || E'\n' ||
        'local_id ' || e.local_id || E'\n' ||
        'source_host ' || encode(e.source_host, 'hex') || E'\n' ||
        'received ' || to_char(e.received AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.US') ||
        E'\n' ||
        'order ' || to_char(e.order_time AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.US') ||
        E'\n' ||
        'login ' || coalesce(length(e.login)::text || ':' || e.login, '-') || E'\n' ||
        'format ' || e.format || E'\n' ||
        'hash ' || e.hash || E'\n' ||
        'previous ' || coalesce(previous, '-') || E'\n', 'UTF8')), 'hex')
$$;

-- The rows of version 1, sealed in the order of their PCs' chains.
DO $$
DECLARE
    r paramporter.entry;
    last_source uuid;
    last_seal text;
    last_order timestamptz;
BEGIN
    FOR r IN SELECT * FROM paramporter.entry ORDER BY source, local_id LOOP
        IF last_source IS DISTINCT FROM r.source THEN
            last_seal := NULL;
            last_order := NULL;
        END IF;
        r.order_time := paramporter.ordering_time(r.time, r.received, last_order);
        r.seal := paramporter.seal(r, last_seal);
        UPDATE paramporter.entry SET order_time = r.order_time, seal = r.seal WHERE id = r.id;
        last_source := r.source;
        last_seal := r.seal;
        last_order := r.order_time;
    END LOOP;
END
$$;
INSERT INTO paramporter.source (source, head_local_id, head_hash, head_seal, head_order)
    SELECT DISTINCT ON (source) source, local_id, hash, seal, order_time
    FROM paramporter.entry ORDER BY source, local_id DESC;

DROP INDEX paramporter.entry_time, paramporter.entry_serial, paramporter.entry_host;
CREATE INDEX entry_order ON paramporter.entry (order_time DESC, id DESC);
CREATE INDEX entry_serial ON paramporter.entry (serial, order_time DESC, id DESC);
CREATE INDEX entry_host ON paramporter.entry (source_host, order_time DESC, id DESC);

-- An entry forwarded by a PC. outcome: 'added'; 'held' (the same entry is there already);
-- 'conflict' (the server holds something else in its place); 'refused'. detail says why.
CREATE FUNCTION paramporter.add_entry(
    p_source uuid, p_local_id bigint, p_parent uuid, p_source_host bytea, p_format integer,
    p_time text, p_user bytea, p_host bytea, p_port bytea, p_action text, p_scope text,
    p_part text, p_serial bytea, p_generation bytea, p_result bytea,
    p_stopped_at_field integer, p_file bytea, p_file_hash text, p_previous_hash text,
    p_hash text, OUT outcome text, OUT detail text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    s paramporter.source;
    e paramporter.entry;
    held paramporter.entry;
    parent_entry paramporter.entry;
BEGIN
    outcome := 'refused';
    IF p_source IS NULL OR p_local_id IS NULL OR p_local_id < 1 OR p_hash IS NULL
       OR p_hash !~ '^[0-9a-f]{64}$' OR p_format IS NULL OR p_format < 1 OR p_action IS NULL
       OR p_action NOT IN ('upload', 'download') OR p_scope IS NULL
       OR p_scope NOT IN ('system', 'part') OR p_time IS NULL OR p_user IS NULL
       OR p_host IS NULL OR p_port IS NULL OR p_result IS NULL OR p_source_host IS NULL THEN
        detail := 'it is not a history entry';
        RETURN;
    END IF;
    IF (p_file IS NULL) <> (p_file_hash IS NULL)
       OR encode(sha256(p_file), 'hex') IS DISTINCT FROM p_file_hash THEN
        detail := 'its parameter file does not match its hash';
        RETURN;
    END IF;
    -- One PC's entries are added one after another: its row stays locked until the commit.
    SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    SELECT * INTO held FROM paramporter.entry WHERE source = p_source AND local_id = p_local_id;
    IF FOUND THEN
        IF held.hash = p_hash THEN
            outcome := 'held';
        ELSE
            outcome := 'conflict';
            detail := format('the server holds another entry %s of this PC (server entry %s)',
                             p_local_id, held.id);
        END IF;
        RETURN;
    END IF;

    IF s.source IS NULL THEN
        -- A PC new to the server: its first entry, or the first of a history copied from one
        -- whose entries the server holds.
        IF p_local_id > 1 THEN
            SELECT * INTO parent_entry FROM paramporter.entry
                WHERE source = p_parent AND local_id = p_local_id - 1;
            IF NOT FOUND THEN
                detail := format('the server holds no entry %s before it', p_local_id - 1);
                RETURN;
            END IF;
            IF parent_entry.hash IS DISTINCT FROM p_previous_hash THEN
                outcome := 'conflict';
                detail := format('it does not follow the server''s entry %s (server entry %s)',
                                 p_local_id - 1, parent_entry.id);
                RETURN;
            END IF;
        ELSIF p_previous_hash IS NOT NULL THEN
            detail := 'it is the first entry of this PC but names one before it';
            RETURN;
        END IF;
        INSERT INTO paramporter.source (source, login, bound, parent, parent_local_id,
                                        head_local_id, head_hash, head_order)
            VALUES (p_source, session_user, now(), parent_entry.source, parent_entry.local_id,
                    p_local_id - 1, parent_entry.hash, parent_entry.order_time)
            ON CONFLICT (source) DO NOTHING;
        SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    END IF;

    IF s.login IS NULL THEN
        UPDATE paramporter.source SET login = session_user, bound = now()
            WHERE source = p_source;
    ELSIF s.login <> session_user THEN
        detail := format('this PC''s entries come from the login %s, not %s', s.login,
                         session_user);
        RETURN;
    END IF;
    IF p_local_id > s.head_local_id + 1 THEN
        detail := format('the server holds the entries of this PC up to %s only',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_local_id <= s.head_local_id THEN
        outcome := 'conflict';
        detail := format('the server lacks it but holds this PC''s entries up to %s',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_previous_hash IS DISTINCT FROM s.head_hash THEN
        outcome := 'conflict';
        detail := format('it does not follow the server''s entry %s', s.head_local_id);
        RETURN;
    END IF;

    INSERT INTO paramporter.entry (source, local_id, source_host, time, "user", host, port,
                                   action, scope, part, serial, generation, result,
                                   stopped_at_field, file, file_hash, previous_hash, hash,
                                   format, login, order_time)
        VALUES (p_source, p_local_id, p_source_host, p_time, p_user, p_host, p_port,
                p_action, p_scope, p_part, p_serial, p_generation, p_result,
                p_stopped_at_field, p_file, p_file_hash, p_previous_hash, p_hash, p_format,
                session_user, paramporter.ordering_time(p_time, now(), s.head_order))
        RETURNING * INTO e;
    e.seal := paramporter.seal(e, s.head_seal);
    UPDATE paramporter.entry SET seal = e.seal WHERE id = e.id;
    UPDATE paramporter.source SET head_local_id = p_local_id, head_hash = p_hash,
                                  head_seal = e.seal, head_order = e.order_time
        WHERE source = p_source;
    outcome := 'added';
END
$$;

REVOKE INSERT ON paramporter.entry FROM paramporter_writer;
REVOKE ALL ON FUNCTION paramporter.add_entry FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.add_entry TO paramporter_writer;
GRANT SELECT ON paramporter.source TO paramporter_writer, paramporter_reader;

UPDATE paramporter.schema_version SET version = 2;
COMMIT;
\endif

SELECT version < 3 AS pp_step_3 FROM paramporter.schema_version \gset
\if :pp_step_3
-- ---------------------------------------------------------------- version 3
-- The plant's approved state: approvals and revocations as entries of the PCs' chains, the
-- reason of a download, approval or revocation, and what an upload found changed; the plant's
-- settings. Entries of earlier versions keep their format and verify as before.
BEGIN;

-- The plant's settings, read by every PC; set by plant IT as the database's owner, e.g.
--     INSERT INTO paramporter.plant_setting VALUES ('approver_not_author', 'true')
--         ON CONFLICT (key) DO UPDATE SET value = excluded.value;
--   approver_not_author  'true': a download is approved by another account than the one that
--                        made it (add_entry() refuses such an approval too)
--   reason_required      'true': a download asks why it is made
--   download_reasons     the reasons offered for a download, one per line
CREATE TABLE paramporter.plant_setting (
    key text PRIMARY KEY,
    value text NOT NULL
);

DO $$
DECLARE
    c name;
BEGIN
    -- The check of the action, under whatever name the first version's table gave it.
    FOR c IN SELECT conname FROM pg_constraint
             WHERE conrelid = 'paramporter.entry'::regclass AND contype = 'c'
               AND pg_get_constraintdef(oid) LIKE '%action%' LOOP
        EXECUTE format('ALTER TABLE paramporter.entry DROP CONSTRAINT %I', c);
    END LOOP;
END
$$;
ALTER TABLE paramporter.entry
    ADD CONSTRAINT entry_action_check
        CHECK (action IN ('upload', 'download', 'approve', 'revoke')),
    ADD COLUMN reason bytea,        -- why a download, approval or revocation was made
    ADD COLUMN meaning text,        -- an approval's: 'approved' or 'reviewed'
    ADD COLUMN subject bigint,      -- an approval's: the entry's ID where it was made
    ADD COLUMN subject_hash text,   -- an approval's: the hash of the entry it approves
    ADD COLUMN findings bytea;      -- an upload's: what differed, as canonical fields

-- An instrument's scope (the system parameters: part ''), its entries by kind, newest first:
-- the approval in force, the last upload and the latest transfer are each one probe.
CREATE INDEX entry_scope ON paramporter.entry
    (serial, scope, (coalesce(part, '')), action, order_time DESC, id DESC);

-- Bytes as text, where they are not UTF-8 with escapes.
CREATE FUNCTION paramporter.as_text(b bytea) RETURNS text
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    RETURN convert_from(b, 'UTF8');
EXCEPTION WHEN others THEN
    RETURN encode(b, 'escape');
END
$$;

DROP FUNCTION paramporter.add_entry(uuid, bigint, uuid, bytea, integer, text, bytea, bytea, bytea,
                                    text, text, text, bytea, bytea, bytea, integer, bytea, text,
                                    text, text);

-- An entry forwarded by a PC. outcome: 'added'; 'held' (the same entry is there already);
-- 'conflict' (the server holds something else in its place); 'refused'. detail says why.
-- An approval is taken only of a successful transfer with the same parameters, where the
-- server holds it, and, where the plant wants another account to approve a download, only from
-- another account than the download's.
CREATE FUNCTION paramporter.add_entry(
    p_source uuid, p_local_id bigint, p_parent uuid, p_source_host bytea, p_format integer,
    p_time text, p_user bytea, p_host bytea, p_port bytea, p_action text, p_scope text,
    p_part text, p_serial bytea, p_generation bytea, p_result bytea,
    p_stopped_at_field integer, p_file bytea, p_file_hash text, p_previous_hash text,
    p_hash text, p_reason bytea DEFAULT NULL, p_meaning text DEFAULT NULL,
    p_subject bigint DEFAULT NULL, p_subject_hash text DEFAULT NULL,
    p_findings bytea DEFAULT NULL, OUT outcome text, OUT detail text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    s paramporter.source;
    e paramporter.entry;
    held paramporter.entry;
    parent_entry paramporter.entry;
    subject_entry paramporter.entry;
    subject_found boolean;
    marked boolean;
BEGIN
    outcome := 'refused';
    IF p_source IS NULL OR p_local_id IS NULL OR p_local_id < 1 OR p_hash IS NULL
       OR p_hash !~ '^[0-9a-f]{64}$' OR p_format IS NULL OR p_format < 1 OR p_action IS NULL
       OR p_action NOT IN ('upload', 'download', 'approve', 'revoke') OR p_scope IS NULL
       OR p_scope NOT IN ('system', 'part') OR p_time IS NULL OR p_user IS NULL
       OR p_host IS NULL OR p_port IS NULL OR p_result IS NULL OR p_source_host IS NULL THEN
        detail := 'it is not a history entry';
        RETURN;
    END IF;
    marked := p_reason IS NOT NULL OR p_meaning IS NOT NULL OR p_subject IS NOT NULL
              OR p_subject_hash IS NOT NULL OR p_findings IS NOT NULL;
    IF p_format < 3 AND (marked OR p_action IN ('approve', 'revoke')) THEN
        detail := 'its format holds no approval, reason or findings';
        RETURN;
    END IF;
    IF p_action IN ('upload', 'download') THEN
        IF p_meaning IS NOT NULL OR p_subject IS NOT NULL OR p_subject_hash IS NOT NULL THEN
            detail := 'only an approval has a meaning and a subject';
            RETURN;
        END IF;
    ELSIF p_serial IS NULL OR p_reason IS NULL OR btrim(paramporter.as_text(p_reason)) = ''
          OR p_findings IS NOT NULL OR p_result <> 'SUCCESS'::bytea THEN
        detail := format('it is not an %s the server can take (instrument, reason, result)',
                         CASE p_action WHEN 'approve' THEN 'approval' ELSE 'revocation' END);
        RETURN;
    ELSIF p_action = 'revoke' AND (p_file IS NOT NULL OR p_meaning IS NOT NULL
                                   OR p_subject IS NOT NULL OR p_subject_hash IS NOT NULL) THEN
        detail := 'a revocation holds no parameters and no subject';
        RETURN;
    ELSIF p_action = 'approve' AND (p_file IS NULL OR p_meaning IS NULL
                                    OR p_meaning NOT IN ('approved', 'reviewed')
                                    OR p_subject IS NULL OR p_subject_hash IS NULL
                                    OR p_subject_hash !~ '^[0-9a-f]{64}$') THEN
        detail := 'it is not an approval the server can take (parameters, meaning, subject)';
        RETURN;
    END IF;
    IF (p_file IS NULL) <> (p_file_hash IS NULL)
       OR encode(sha256(p_file), 'hex') IS DISTINCT FROM p_file_hash THEN
        detail := 'its parameter file does not match its hash';
        RETURN;
    END IF;
    -- One PC's entries are added one after another: its row stays locked until the commit.
    SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    SELECT * INTO held FROM paramporter.entry WHERE source = p_source AND local_id = p_local_id;
    IF FOUND THEN
        IF held.hash = p_hash THEN
            outcome := 'held';
        ELSE
            outcome := 'conflict';
            detail := format('the server holds another entry %s of this PC (server entry %s)',
                             p_local_id, held.id);
        END IF;
        RETURN;
    END IF;

    IF s.source IS NULL THEN
        -- A PC new to the server: its first entry, or the first of a history copied from one
        -- whose entries the server holds.
        IF p_local_id > 1 THEN
            SELECT * INTO parent_entry FROM paramporter.entry
                WHERE source = p_parent AND local_id = p_local_id - 1;
            IF NOT FOUND THEN
                detail := format('the server holds no entry %s before it', p_local_id - 1);
                RETURN;
            END IF;
            IF parent_entry.hash IS DISTINCT FROM p_previous_hash THEN
                outcome := 'conflict';
                detail := format('it does not follow the server''s entry %s (server entry %s)',
                                 p_local_id - 1, parent_entry.id);
                RETURN;
            END IF;
        ELSIF p_previous_hash IS NOT NULL THEN
            detail := 'it is the first entry of this PC but names one before it';
            RETURN;
        END IF;
        INSERT INTO paramporter.source (source, login, bound, parent, parent_local_id,
                                        head_local_id, head_hash, head_order)
            VALUES (p_source, session_user, now(), parent_entry.source, parent_entry.local_id,
                    p_local_id - 1, parent_entry.hash, parent_entry.order_time)
            ON CONFLICT (source) DO NOTHING;
        SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    END IF;

    IF s.login IS NULL THEN
        UPDATE paramporter.source SET login = session_user, bound = now()
            WHERE source = p_source;
    ELSIF s.login <> session_user THEN
        detail := format('this PC''s entries come from the login %s, not %s', s.login,
                         session_user);
        RETURN;
    END IF;
    IF p_local_id > s.head_local_id + 1 THEN
        detail := format('the server holds the entries of this PC up to %s only',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_local_id <= s.head_local_id THEN
        outcome := 'conflict';
        detail := format('the server lacks it but holds this PC''s entries up to %s',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_previous_hash IS DISTINCT FROM s.head_hash THEN
        outcome := 'conflict';
        detail := format('it does not follow the server''s entry %s', s.head_local_id);
        RETURN;
    END IF;

    IF p_action = 'approve' THEN
        -- The entry approved, from whichever PC: its hash names it.
        SELECT * INTO subject_entry FROM paramporter.entry
            WHERE serial = p_serial AND scope = p_scope
              AND coalesce(part, '') = coalesce(p_part, '') AND hash = p_subject_hash
              AND action IN ('upload', 'download')
            LIMIT 1;
        subject_found := FOUND;
        IF subject_found THEN
            IF subject_entry.result <> 'SUCCESS'::bytea OR subject_entry.file_hash IS NULL THEN
                detail := format('it approves server entry %s, which is no successful transfer',
                                 subject_entry.id);
                RETURN;
            END IF;
            IF subject_entry.file_hash <> p_file_hash THEN
                detail := format('its parameters are not those of server entry %s it approves',
                                 subject_entry.id);
                RETURN;
            END IF;
        END IF;
        IF EXISTS (SELECT FROM paramporter.plant_setting
                   WHERE key = 'approver_not_author'
                     AND lower(btrim(value, E' \t\r\n')) IN ('true', 'yes', 'on', '1')) THEN
            IF NOT subject_found THEN
                detail := 'the server holds no entry it approves, so it cannot tell who made it';
                RETURN;
            END IF;
            IF subject_entry.action = 'download' AND subject_entry."user" = p_user THEN
                detail := format('This download was made by %s; the plant requires another '
                                 'account to approve it.', paramporter.as_text(p_user));
                RETURN;
            END IF;
        END IF;
    END IF;

    INSERT INTO paramporter.entry (source, local_id, source_host, time, "user", host, port,
                                   action, scope, part, serial, generation, result,
                                   stopped_at_field, file, file_hash, previous_hash, hash,
                                   format, login, order_time, reason, meaning, subject,
                                   subject_hash, findings)
        VALUES (p_source, p_local_id, p_source_host, p_time, p_user, p_host, p_port,
                p_action, p_scope, p_part, p_serial, p_generation, p_result,
                p_stopped_at_field, p_file, p_file_hash, p_previous_hash, p_hash, p_format,
                session_user, paramporter.ordering_time(p_time, now(), s.head_order), p_reason,
                p_meaning, p_subject, p_subject_hash, p_findings)
        RETURNING * INTO e;
    e.seal := paramporter.seal(e, s.head_seal);
    UPDATE paramporter.entry SET seal = e.seal WHERE id = e.id;
    UPDATE paramporter.source SET head_local_id = p_local_id, head_hash = p_hash,
                                  head_seal = e.seal, head_order = e.order_time
        WHERE source = p_source;
    outcome := 'added';
END
$$;

REVOKE ALL ON FUNCTION paramporter.add_entry FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.add_entry TO paramporter_writer;
GRANT SELECT ON paramporter.plant_setting TO paramporter_writer, paramporter_reader;

UPDATE paramporter.schema_version SET version = 3;
COMMIT;
\endif

SELECT version < 4 AS pp_step_4 FROM paramporter.schema_version \gset
\if :pp_step_4
-- ---------------------------------------------------------------- version 4
-- PCs registered by plant IT; every entry's hash and link recomputed by the server; an entry the
-- server refuses kept, marked refused, so the PC's chain stays whole and forwarding goes on.
BEGIN;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'paramporter_admin') THEN
        CREATE ROLE paramporter_admin NOLOGIN;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA paramporter TO paramporter_admin;

-- The PCs plant IT registered: the host name a PC forwards under and the login it forwards
-- with, when and by whom (the administrator's own login). Written only through register_pc()
-- by members of paramporter_admin; the people who approve are a matter of their own, kept apart
-- from the PCs.
CREATE TABLE paramporter.pc (
    host bytea NOT NULL,            -- as the PC's host name gives it
    login name NOT NULL,
    registered timestamptz NOT NULL DEFAULT now(),
    registered_by name NOT NULL,
    PRIMARY KEY (host, login)
);

-- A source is bound to one registered PC, its host and its login. The sources of earlier
-- versions are bound to nothing until plant IT binds them (bind_source()): the login that
-- forwarded them first was never checked.
ALTER TABLE paramporter.source ADD COLUMN host bytea, ADD COLUMN bound_by name;
UPDATE paramporter.source s
    SET host = (SELECT e.source_host FROM paramporter.entry e WHERE e.source = s.source
                ORDER BY e.local_id DESC LIMIT 1),
        login = NULL, bound = NULL;

-- Why the server refused an entry it keeps (null: taken). A refused entry is a link of its
-- PC's chain and counts for nothing.
ALTER TABLE paramporter.entry ADD COLUMN refused text;

-- "name LENGTH:VALUE\n", or "name -\n" for none, as the PCs write the fields they hash.
CREATE FUNCTION paramporter.field(name text, value bytea) RETURNS bytea
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT convert_to(name, 'UTF8') || CASE WHEN value IS NULL THEN '\x202d0a'::bytea
        ELSE convert_to(' ' || octet_length(value) || ':', 'UTF8') || value || '\x0a'::bytea END
$$;

-- The hash of an entry as its PC computed it: SHA-256 of its canonical text in its format.
-- Null for a format the server does not know.
CREATE FUNCTION paramporter.entry_hash(e paramporter.entry) RETURNS text
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    t bytea;
BEGIN
    IF e.format < 1 OR e.format > 3 THEN
        RETURN NULL;
    END IF;
    t := convert_to('paramporter history entry ' || e.format || E'\n', 'UTF8')
         || paramporter.field('id', convert_to(e.local_id::text, 'UTF8'));
    IF e.format >= 2 THEN
        t := t || paramporter.field('source', convert_to(e.source::text, 'UTF8'));
    END IF;
    t := t || paramporter.field('time', convert_to(e.time, 'UTF8'))
           || paramporter.field('user', e."user")
           || paramporter.field('host', e.host)
           || paramporter.field('port', e.port)
           || paramporter.field('action', convert_to(e.action, 'UTF8'))
           || paramporter.field('scope', convert_to(e.scope, 'UTF8'))
           || paramporter.field('part', convert_to(e.part, 'UTF8'))
           || paramporter.field('serial', e.serial)
           || paramporter.field('generation', e.generation)
           || paramporter.field('result', e.result)
           || paramporter.field('stopped-at-field', convert_to(e.stopped_at_field::text, 'UTF8'));
    IF e.format >= 3 THEN
        t := t || paramporter.field('reason', e.reason)
               || paramporter.field('meaning', convert_to(e.meaning, 'UTF8'))
               || paramporter.field('subject', convert_to(e.subject::text, 'UTF8'))
               || paramporter.field('subject-hash', convert_to(e.subject_hash, 'UTF8'))
               || paramporter.field('findings', e.findings);
    END IF;
    t := t || paramporter.field('file', convert_to(e.file_hash, 'UTF8'))
           || paramporter.field('previous', convert_to(e.previous_hash, 'UTF8'));
    RETURN encode(sha256(t), 'hex');
END
$$;

-- The seal of a row, now with the server's refusal (a row taken is sealed as before).
CREATE OR REPLACE FUNCTION paramporter.seal(e paramporter.entry, previous text) RETURNS text
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT encode(sha256(convert_to(
        'paramporter server entry 1' || E'\n' ||
        'id ' || e.id || E'\n' ||
        'source ' || e.source || E'\n' ||
        'local_id ' || e.local_id || E'\n' ||
        'source_host ' || encode(e.source_host, 'hex') || E'\n' ||
        'received ' || to_char(e.received AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.US') ||
        E'\n' ||
        'order ' || to_char(e.order_time AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.US') ||
        E'\n' ||
        'login ' || coalesce(length(e.login)::text || ':' || e.login, '-') || E'\n' ||
        'format ' || e.format || E'\n' ||
        'hash ' || e.hash || E'\n' ||
        'previous ' || coalesce(previous, '-') || E'\n' ||
        coalesce('refused ' || octet_length(convert_to(e.refused, 'UTF8')) || ':' || e.refused ||
                 E'\n', ''), 'UTF8')), 'hex')
$$;

-- Whether a reason says something: what is left without escape sequences, control characters
-- and spaces of any kind (no-break, wide, thin, zero-width) is not empty, as the PCs count it.
CREATE FUNCTION paramporter.has_reason(b bytea) RETURNS boolean
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT b IS NOT NULL AND regexp_replace(regexp_replace(paramporter.as_text(b),
               '\x1b\[[^\x40-\x7e]*[\x40-\x7e]?', '', 'g'), '\x1b.?', '', 'g')
           ~ '[^\x01-\x20\x7f-\xa0\xad\u1680\u2000-\u200f\u2028-\u202f\u205f-\u2064\u3000\ufeff]'
$$;

-- What a download refused for want of a reason is refused with: the values went to the
-- instrument all the same, so it still counts as the instrument's latest transfer.
CREATE FUNCTION paramporter.no_reason_refusal() RETURNS text
LANGUAGE sql IMMUTABLE AS $$ SELECT 'the plant requires a reason for every download'::text $$;

-- Plant IT registers a PC: its host name and its login. Sources bound to nothing whose last
-- entry came from that host are bound to it. Returns how many were bound.
CREATE FUNCTION paramporter.register_pc(p_host text, p_login name) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    n integer;
BEGIN
    IF p_host IS NULL OR btrim(p_host) = '' OR p_login IS NULL OR p_login = '' THEN
        RAISE EXCEPTION 'a PC is registered with its host name and its login';
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = p_login) THEN
        RAISE EXCEPTION 'there is no login %', p_login;
    END IF;
    INSERT INTO paramporter.pc (host, login, registered, registered_by)
        VALUES (convert_to(p_host, 'UTF8'), p_login, now(), session_user)
        ON CONFLICT (host, login) DO UPDATE
            SET registered = excluded.registered, registered_by = excluded.registered_by;
    UPDATE paramporter.source SET login = p_login, bound = now(), bound_by = session_user
        WHERE login IS NULL AND host = convert_to(p_host, 'UTF8');
    GET DIAGNOSTICS n = ROW_COUNT;
    RETURN n;
END
$$;

-- Plant IT binds a source (a PC's installation, as paramporter.source lists it) to a
-- registered PC: its later entries are taken from that PC's login and host alone.
CREATE FUNCTION paramporter.bind_source(p_source uuid, p_host text, p_login name)
RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    IF NOT EXISTS (SELECT FROM paramporter.pc
                   WHERE host = convert_to(p_host, 'UTF8') AND login = p_login) THEN
        RAISE EXCEPTION 'the PC % is not registered to the login %', p_host, p_login;
    END IF;
    UPDATE paramporter.source
        SET host = convert_to(p_host, 'UTF8'), login = p_login, bound = now(),
            bound_by = session_user
        WHERE source = p_source;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'the server holds no entries of the source %', p_source;
    END IF;
END
$$;

-- An entry forwarded by a PC. outcome: 'added'; 'held' (the same entry is there already);
-- 'conflict' (the server holds something else in its place); 'refused' (nothing kept: the PC
-- may not write it, or it is not the next of its chain); 'kept-refused' (kept as a link of the
-- PC's chain, marked refused: it counts for nothing, and the PC goes on). detail says why.
-- The login must be registered with the PC's host; a PC's source is bound to that login and
-- host, a copied history's new one only to those of the history it goes on from. The server
-- recomputes the entry's hash from its content and checks its link to the one before.
CREATE OR REPLACE FUNCTION paramporter.add_entry(
    p_source uuid, p_local_id bigint, p_parent uuid, p_source_host bytea, p_format integer,
    p_time text, p_user bytea, p_host bytea, p_port bytea, p_action text, p_scope text,
    p_part text, p_serial bytea, p_generation bytea, p_result bytea,
    p_stopped_at_field integer, p_file bytea, p_file_hash text, p_previous_hash text,
    p_hash text, p_reason bytea DEFAULT NULL, p_meaning text DEFAULT NULL,
    p_subject bigint DEFAULT NULL, p_subject_hash text DEFAULT NULL,
    p_findings bytea DEFAULT NULL, OUT outcome text, OUT detail text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    s paramporter.source;
    e paramporter.entry;
    held paramporter.entry;
    parent_entry paramporter.entry;
    parent_source paramporter.source;
    subject_entry paramporter.entry;
    subject_found boolean;
    marked boolean;
    why text;
BEGIN
    outcome := 'refused';
    IF p_source IS NULL OR p_local_id IS NULL OR p_local_id < 1 OR p_hash IS NULL
       OR p_hash !~ '^[0-9a-f]{64}$' OR p_format IS NULL OR p_format < 1 OR p_action IS NULL
       OR p_action NOT IN ('upload', 'download', 'approve', 'revoke') OR p_scope IS NULL
       OR p_scope NOT IN ('system', 'part') OR p_time IS NULL OR p_user IS NULL
       OR p_host IS NULL OR p_port IS NULL OR p_result IS NULL OR p_source_host IS NULL THEN
        detail := 'it is not a history entry';
        RETURN;
    END IF;
    IF NOT EXISTS (SELECT FROM paramporter.pc
                   WHERE host = p_source_host AND login = session_user) THEN
        detail := format('the PC %s is not registered to the login %s',
                         paramporter.as_text(p_source_host), session_user);
        RETURN;
    END IF;

    -- One PC's entries are added one after another, its first ones too: the lock is held until
    -- the commit, and what the other forward added is seen once it is taken.
    PERFORM pg_advisory_xact_lock(hashtextextended('paramporter source ' || p_source, 0));
    SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    IF s.source IS NOT NULL THEN
        IF s.login IS NULL THEN
            detail := 'the server''s entries of this PC are from before PCs were registered; '
                      'plant IT binds them to their PC (paramporter.bind_source)';
            RETURN;
        ELSIF s.login <> session_user THEN
            detail := format('this PC''s entries come from the login %s, not %s', s.login,
                             session_user);
            RETURN;
        ELSIF s.host IS DISTINCT FROM p_source_host THEN
            detail := format('this PC''s entries come from the PC %s, not %s',
                             paramporter.as_text(s.host), paramporter.as_text(p_source_host));
            RETURN;
        END IF;
    END IF;
    SELECT * INTO held FROM paramporter.entry WHERE source = p_source AND local_id = p_local_id;
    IF FOUND THEN
        IF held.hash = p_hash THEN
            outcome := 'held';
        ELSE
            outcome := 'conflict';
            detail := format('the server holds another entry %s of this PC (server entry %s)',
                             p_local_id, held.id);
        END IF;
        RETURN;
    END IF;

    IF s.source IS NULL THEN
        -- A PC new to the server: its first entry, or the first of a history copied from one
        -- whose entries the server holds, taken from the same login and host alone.
        IF p_local_id > 1 THEN
            SELECT * INTO parent_entry FROM paramporter.entry
                WHERE source = p_parent AND local_id = p_local_id - 1;
            IF NOT FOUND THEN
                detail := format('the server holds no entry %s before it', p_local_id - 1);
                RETURN;
            END IF;
            SELECT * INTO parent_source FROM paramporter.source WHERE source = p_parent;
            IF parent_source.login IS DISTINCT FROM session_user
               OR parent_source.host IS DISTINCT FROM p_source_host THEN
                detail := format('the history it goes on from is bound to %s, not to the login '
                                 '%s on %s',
                                 CASE WHEN parent_source.login IS NULL THEN 'no PC'
                                      ELSE format('the login %s on %s', parent_source.login,
                                                  paramporter.as_text(parent_source.host)) END,
                                 session_user, paramporter.as_text(p_source_host));
                RETURN;
            END IF;
            IF parent_entry.hash IS DISTINCT FROM p_previous_hash THEN
                outcome := 'conflict';
                detail := format('it does not follow the server''s entry %s (server entry %s)',
                                 p_local_id - 1, parent_entry.id);
                RETURN;
            END IF;
        ELSIF p_previous_hash IS NOT NULL THEN
            outcome := 'conflict';
            detail := 'it is the first entry of this PC but names one before it';
            RETURN;
        END IF;
        INSERT INTO paramporter.source (source, login, bound, parent, parent_local_id,
                                        head_local_id, head_hash, head_order, host, bound_by)
            VALUES (p_source, session_user, now(), parent_entry.source, parent_entry.local_id,
                    p_local_id - 1, parent_entry.hash, parent_entry.order_time, p_source_host,
                    session_user);
        SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    END IF;

    IF p_local_id > s.head_local_id + 1 THEN
        detail := format('the server holds the entries of this PC up to %s only',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_local_id <= s.head_local_id THEN
        outcome := 'conflict';
        detail := format('the server lacks it but holds this PC''s entries up to %s',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_previous_hash IS DISTINCT FROM s.head_hash THEN
        outcome := 'conflict';
        detail := format('it does not follow the server''s entry %s', s.head_local_id);
        RETURN;
    END IF;

    -- The next link of the PC's chain: kept, taken or refused.
    e.source := p_source;
    e.local_id := p_local_id;
    e.source_host := p_source_host;
    e.time := p_time;
    e."user" := p_user;
    e.host := p_host;
    e.port := p_port;
    e.action := p_action;
    e.scope := p_scope;
    e.part := p_part;
    e.serial := p_serial;
    e.generation := p_generation;
    e.result := p_result;
    e.stopped_at_field := p_stopped_at_field;
    e.file := p_file;
    e.file_hash := p_file_hash;
    e.previous_hash := p_previous_hash;
    e.hash := p_hash;
    e.format := p_format;
    e.reason := p_reason;
    e.meaning := p_meaning;
    e.subject := p_subject;
    e.subject_hash := p_subject_hash;
    e.findings := p_findings;

    marked := p_reason IS NOT NULL OR p_meaning IS NOT NULL OR p_subject IS NOT NULL
              OR p_subject_hash IS NOT NULL OR p_findings IS NOT NULL;
    IF paramporter.entry_hash(e) IS NULL THEN
        why := format('its format %s is not one the server knows', p_format);
    ELSIF paramporter.entry_hash(e) <> p_hash THEN
        why := 'its hash is not that of its content';
    ELSIF (p_file IS NULL) <> (p_file_hash IS NULL)
          OR encode(sha256(p_file), 'hex') IS DISTINCT FROM p_file_hash THEN
        why := 'its parameter file does not match its hash';
    ELSIF p_format < 3 AND (marked OR p_action IN ('approve', 'revoke')) THEN
        why := 'its format holds no approval, reason or findings';
    ELSIF p_action IN ('upload', 'download') THEN
        IF p_meaning IS NOT NULL OR p_subject IS NOT NULL OR p_subject_hash IS NOT NULL THEN
            why := 'only an approval has a meaning and a subject';
        ELSIF p_action = 'download' AND p_format >= 3 AND NOT paramporter.has_reason(p_reason)
              AND EXISTS (SELECT FROM paramporter.plant_setting
                          WHERE key = 'reason_required'
                            AND lower(btrim(value, E' \t\r\n')) IN ('true', 'yes', 'on', '1'))
              THEN
            why := paramporter.no_reason_refusal();
        END IF;
    ELSIF p_serial IS NULL OR NOT paramporter.has_reason(p_reason)
          OR p_findings IS NOT NULL OR p_result <> 'SUCCESS'::bytea THEN
        why := format('it is not an %s the server can take (instrument, reason, result)',
                      CASE p_action WHEN 'approve' THEN 'approval' ELSE 'revocation' END);
    ELSIF p_action = 'revoke' AND (p_file IS NOT NULL OR p_meaning IS NOT NULL
                                   OR p_subject IS NOT NULL OR p_subject_hash IS NOT NULL) THEN
        why := 'a revocation holds no parameters and no subject';
    ELSIF p_action = 'approve' AND (p_file IS NULL OR p_meaning IS NULL
                                    OR p_meaning NOT IN ('approved', 'reviewed')
                                    OR p_subject IS NULL OR p_subject_hash IS NULL
                                    OR p_subject_hash !~ '^[0-9a-f]{64}$') THEN
        why := 'it is not an approval the server can take (parameters, meaning, subject)';
    END IF;

    IF why IS NULL AND p_action = 'approve' THEN
        -- The entry approved, from whichever registered PC: its hash names it.
        SELECT * INTO subject_entry FROM paramporter.entry x
            WHERE x.serial = p_serial AND x.scope = p_scope
              AND coalesce(x.part, '') = coalesce(p_part, '') AND x.hash = p_subject_hash
              AND x.action IN ('upload', 'download') AND x.refused IS NULL
              AND EXISTS (SELECT FROM paramporter.source xs JOIN paramporter.pc xp
                              ON xp.host = xs.host AND xp.login = xs.login
                          WHERE xs.source = x.source)
            LIMIT 1;
        subject_found := FOUND;
        IF subject_found THEN
            IF subject_entry.result <> 'SUCCESS'::bytea OR subject_entry.file_hash IS NULL THEN
                why := format('it approves server entry %s, which is no successful transfer',
                              subject_entry.id);
            ELSIF subject_entry.file_hash <> p_file_hash THEN
                why := format('its parameters are not those of server entry %s it approves',
                              subject_entry.id);
            END IF;
        END IF;
        IF why IS NULL AND EXISTS (
               SELECT FROM paramporter.plant_setting
               WHERE key = 'approver_not_author'
                 AND lower(btrim(value, E' \t\r\n')) IN ('true', 'yes', 'on', '1')) THEN
            IF NOT subject_found THEN
                why := 'the server holds no entry it approves, so it cannot tell who made it';
            ELSIF subject_entry.action = 'download' AND subject_entry."user" = p_user THEN
                why := format('This download was made by %s; the plant requires another '
                              'account to approve it.', paramporter.as_text(p_user));
            END IF;
        END IF;
    END IF;

    INSERT INTO paramporter.entry (source, local_id, source_host, time, "user", host, port,
                                   action, scope, part, serial, generation, result,
                                   stopped_at_field, file, file_hash, previous_hash, hash,
                                   format, login, order_time, reason, meaning, subject,
                                   subject_hash, findings, refused)
        VALUES (p_source, p_local_id, p_source_host, p_time, p_user, p_host, p_port,
                p_action, p_scope, p_part, p_serial, p_generation, p_result,
                p_stopped_at_field, p_file, p_file_hash, p_previous_hash, p_hash, p_format,
                session_user, paramporter.ordering_time(p_time, now(), s.head_order), p_reason,
                p_meaning, p_subject, p_subject_hash, p_findings, why)
        RETURNING * INTO e;
    e.seal := paramporter.seal(e, s.head_seal);
    UPDATE paramporter.entry SET seal = e.seal WHERE id = e.id;
    UPDATE paramporter.source SET head_local_id = p_local_id, head_hash = p_hash,
                                  head_seal = e.seal, head_order = e.order_time
        WHERE source = p_source;
    IF why IS NULL THEN
        outcome := 'added';
    ELSE
        outcome := 'kept-refused';
        detail := why;
    END IF;
END
$$;

REVOKE ALL ON FUNCTION paramporter.add_entry FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.add_entry TO paramporter_writer;
REVOKE ALL ON FUNCTION paramporter.register_pc, paramporter.bind_source FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.register_pc, paramporter.bind_source TO paramporter_admin;
REVOKE ALL ON FUNCTION paramporter.has_reason, paramporter.no_reason_refusal FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.has_reason, paramporter.no_reason_refusal
    TO paramporter_writer, paramporter_reader, paramporter_admin;
GRANT SELECT ON paramporter.pc TO paramporter_writer, paramporter_reader, paramporter_admin;
GRANT SELECT ON paramporter.schema_version, paramporter.entry, paramporter.source,
    paramporter.plant_setting TO paramporter_admin;

UPDATE paramporter.schema_version SET version = 4;
COMMIT;
\endif

SELECT version < 5 AS pp_step_5 FROM paramporter.schema_version \gset
\if :pp_step_5
-- ---------------------------------------------------------------- version 5
-- Approvals and revocations signed by a person. The people who approve are logins of their
-- own, members of paramporter_approver, which plant IT names in paramporter.person with their
-- printed name and the PC accounts that are them. A person signs in a connection of their own
-- login (paramporter.sign(), which they alone may call): the server records who signed from
-- the connection, the printed name, the meaning and its own time, and refuses a signer who
-- made the values approved where the plant requires another person. The PC's entry carries the
-- signature (format 4), and add_entry() takes an approval or revocation only with a signature
-- the server recorded for exactly it, once. Approvals and revocations of earlier versions, and
-- unsigned ones, stay listed and count for nothing: the approvers sign them again.
--
-- e.g.  CREATE ROLE jdoe LOGIN PASSWORD '...' IN ROLE paramporter_approver;
--       SELECT paramporter.register_person('jdoe', 'Jane Doe', ARRAY['jdoe', 'LINE\jdoe']);
-- The server's pg_hba.conf asks every login for its password (scram-sha-256): a signature is
-- worth what the check of the password is.
BEGIN;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'paramporter_approver') THEN
        CREATE ROLE paramporter_approver NOLOGIN;
    END IF;
END
$$;

-- The plant's people who sign: their own login, their printed name as a signature shows it.
CREATE TABLE paramporter.person (
    login name PRIMARY KEY,
    printed_name text NOT NULL CHECK (btrim(printed_name) <> ''),
    registered timestamptz NOT NULL DEFAULT now(),
    registered_by name NOT NULL
);
-- The PC accounts (an entry's "user") that are each person: who made a download.
CREATE TABLE paramporter.person_account (
    account bytea PRIMARY KEY,
    login name NOT NULL REFERENCES paramporter.person (login)
);
-- Every signing, as the server recorded it; entry: the server entry that carries it.
CREATE TABLE paramporter.signature (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    login name NOT NULL,
    printed_name text NOT NULL,
    signed timestamptz NOT NULL,
    action text NOT NULL CHECK (action IN ('approve', 'revoke')),
    meaning text,
    serial bytea NOT NULL,
    scope text NOT NULL,
    part text,
    subject_hash text,
    file_hash text,
    reason bytea NOT NULL,
    source uuid NOT NULL,           -- the PC's history whose entry carries it
    signed_text bytea UNIQUE,       -- as the PC's entry holds it
    entry bigint UNIQUE
);

ALTER TABLE paramporter.entry ADD COLUMN signature bytea;

-- A signature as the PCs hash it: its number, login, printed name and time as canonical fields.
CREATE FUNCTION paramporter.signature_text(g paramporter.signature) RETURNS bytea
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT paramporter.field('number', convert_to(g.id::text, 'UTF8'))
        || paramporter.field('login', convert_to(g.login::text, 'UTF8'))
        || paramporter.field('name', convert_to(g.printed_name, 'UTF8'))
        || paramporter.field('signed', convert_to(to_char(g.signed AT TIME ZONE 'UTC',
                                                          'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'), 'UTF8'))
$$;

-- The number the server gave a signature, as the entry carries it: the order of signing.
-- Without a search_path of its own, so that a query's plan takes it in (every name qualified).
CREATE FUNCTION paramporter.signature_number(s bytea) RETURNS bigint
LANGUAGE sql IMMUTABLE AS $$
    SELECT (pg_catalog.regexp_match(pg_catalog.encode(s, 'escape'),
                                    '^number [0-9]{1,2}:([0-9]{1,18})\n'))[1]::pg_catalog.int8
$$;

-- An instrument's scope, its approvals and revocations in the order they were signed: the one in
-- force is one probe.
CREATE INDEX entry_signed ON paramporter.entry
    (serial, scope, (coalesce(part, '')), action, paramporter.signature_number(signature) DESC,
     id DESC)
    WHERE action IN ('approve', 'revoke');

-- The hash of an entry in formats 1 to 4 (4: with its signature).
CREATE OR REPLACE FUNCTION paramporter.entry_hash(e paramporter.entry) RETURNS text
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    t bytea;
BEGIN
    IF e.format < 1 OR e.format > 4 THEN
        RETURN NULL;
    END IF;
    t := convert_to('paramporter history entry ' || e.format || E'\n', 'UTF8')
         || paramporter.field('id', convert_to(e.local_id::text, 'UTF8'));
    IF e.format >= 2 THEN
        t := t || paramporter.field('source', convert_to(e.source::text, 'UTF8'));
    END IF;
    t := t || paramporter.field('time', convert_to(e.time, 'UTF8'))
           || paramporter.field('user', e."user")
           || paramporter.field('host', e.host)
           || paramporter.field('port', e.port)
           || paramporter.field('action', convert_to(e.action, 'UTF8'))
           || paramporter.field('scope', convert_to(e.scope, 'UTF8'))
           || paramporter.field('part', convert_to(e.part, 'UTF8'))
           || paramporter.field('serial', e.serial)
           || paramporter.field('generation', e.generation)
           || paramporter.field('result', e.result)
           || paramporter.field('stopped-at-field', convert_to(e.stopped_at_field::text, 'UTF8'));
    IF e.format >= 3 THEN
        t := t || paramporter.field('reason', e.reason)
               || paramporter.field('meaning', convert_to(e.meaning, 'UTF8'))
               || paramporter.field('subject', convert_to(e.subject::text, 'UTF8'))
               || paramporter.field('subject-hash', convert_to(e.subject_hash, 'UTF8'))
               || paramporter.field('findings', e.findings);
    END IF;
    IF e.format >= 4 THEN
        t := t || paramporter.field('signature', e.signature);
    END IF;
    t := t || paramporter.field('file', convert_to(e.file_hash, 'UTF8'))
           || paramporter.field('previous', convert_to(e.previous_hash, 'UTF8'));
    RETURN encode(sha256(t), 'hex');
END
$$;

-- Plant IT names a person: their login, printed name and the PC accounts that are them (an
-- account named for another person before is theirs now).
CREATE FUNCTION paramporter.register_person(p_login name, p_printed_name text,
                                            p_accounts text[]) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    IF p_login IS NULL OR p_login = '' OR p_printed_name IS NULL OR btrim(p_printed_name) = ''
    THEN
        RAISE EXCEPTION 'a person is named with their login and printed name';
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = p_login) THEN
        RAISE EXCEPTION 'there is no login %', p_login;
    END IF;
    INSERT INTO paramporter.person (login, printed_name, registered, registered_by)
        VALUES (p_login, btrim(p_printed_name), now(), session_user)
        ON CONFLICT (login) DO UPDATE
            SET printed_name = excluded.printed_name, registered = excluded.registered,
                registered_by = excluded.registered_by;
    INSERT INTO paramporter.person_account (account, login)
        SELECT DISTINCT convert_to(a, 'UTF8'), p_login
        FROM unnest(coalesce(p_accounts, ARRAY[]::text[])) a WHERE a IS NOT NULL AND a <> ''
        ON CONFLICT (account) DO UPDATE SET login = excluded.login;
END
$$;

-- A person signs an approval or a revocation, in a connection of their own login. given: the
-- signature as the PC's entry carries it; refusal: why it was not signed.
CREATE FUNCTION paramporter.sign(p_action text, p_serial bytea, p_scope text, p_part text,
                                 p_meaning text, p_subject_hash text, p_file_hash text,
                                 p_reason bytea, p_source uuid, OUT given bytea,
                                 OUT refusal text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    p paramporter.person;
    g paramporter.signature;
    subject_entry paramporter.entry;
    made paramporter.entry;
    author name;
BEGIN
    IF NOT pg_has_role(session_user, 'paramporter_approver', 'MEMBER') THEN
        refusal := format('the login %s may not sign: plant IT grants paramporter_approver to '
                          'the people who approve', session_user);
        RETURN;
    END IF;
    SELECT * INTO p FROM paramporter.person WHERE login = session_user;
    IF NOT FOUND THEN
        refusal := format('the login %s is not one of the plant''s people (plant IT names it '
                          'with paramporter.register_person)', session_user);
        RETURN;
    END IF;
    IF p_action IS NULL OR p_action NOT IN ('approve', 'revoke') OR p_serial IS NULL
       OR p_scope IS NULL OR p_scope NOT IN ('system', 'part') OR p_source IS NULL
       OR NOT paramporter.has_reason(p_reason) THEN
        refusal := 'it is not an approval or a revocation the server can sign (instrument, '
                   'scope, reason)';
        RETURN;
    END IF;
    IF p_action = 'revoke' AND (p_meaning IS NOT NULL OR p_subject_hash IS NOT NULL
                                OR p_file_hash IS NOT NULL) THEN
        refusal := 'a revocation holds no parameters and no subject';
        RETURN;
    END IF;
    IF p_action = 'approve' THEN
        IF p_meaning IS NULL OR p_meaning NOT IN ('approved', 'reviewed')
           OR p_subject_hash IS NULL OR p_subject_hash !~ '^[0-9a-f]{64}$'
           OR p_file_hash IS NULL THEN
            refusal := 'it is not an approval the server can sign (parameters, meaning, '
                       'subject)';
            RETURN;
        END IF;
        -- The entry approved, from whichever registered PC, as the plant counts it.
        SELECT * INTO subject_entry FROM paramporter.entry x
            WHERE x.serial = p_serial AND x.scope = p_scope
              AND coalesce(x.part, '') = coalesce(p_part, '') AND x.hash = p_subject_hash
              AND x.action IN ('upload', 'download') AND x.refused IS NULL
              AND EXISTS (SELECT FROM paramporter.source xs JOIN paramporter.pc xp
                              ON xp.host = xs.host AND xp.login = xs.login
                          WHERE xs.source = x.source)
            ORDER BY x.id LIMIT 1;
        IF NOT FOUND THEN
            refusal := 'the server does not hold the entry approved (the PC that recorded it '
                       'forwards it first)';
            RETURN;
        END IF;
        IF subject_entry.result <> 'SUCCESS'::bytea OR subject_entry.file_hash IS NULL
           OR subject_entry.file_hash <> p_file_hash THEN
            refusal := format('its parameters are not those of server entry %s, a successful '
                              'transfer', subject_entry.id);
            RETURN;
        END IF;
        -- Four eyes: the person who made the values is the author of the latest successful
        -- download of the scope at or before the entry approved (the entry itself when it is
        -- one; the download an upload reads back), from any PC. "Before" by the plant's time
        -- and by the order the server took them, both: a PC's clock decides neither alone.
        IF EXISTS (SELECT FROM paramporter.plant_setting
                   WHERE key = 'approver_not_author'
                     AND lower(btrim(value, E' \t\r\n')) IN ('true', 'yes', 'on', '1')) THEN
            FOR made IN
                (SELECT * FROM paramporter.entry d
                 WHERE d.serial = p_serial AND d.scope = p_scope
                   AND coalesce(d.part, '') = coalesce(p_part, '') AND d.action = 'download'
                   AND d.result = 'SUCCESS'::bytea AND d.file IS NOT NULL
                   AND (d.refused IS NULL OR d.refused = paramporter.no_reason_refusal())
                   AND (d.order_time, d.id) <= (subject_entry.order_time, subject_entry.id)
                 ORDER BY d.order_time DESC, d.id DESC LIMIT 1)
                UNION ALL
                (SELECT * FROM paramporter.entry d
                 WHERE d.serial = p_serial AND d.scope = p_scope
                   AND coalesce(d.part, '') = coalesce(p_part, '') AND d.action = 'download'
                   AND d.result = 'SUCCESS'::bytea AND d.file IS NOT NULL
                   AND (d.refused IS NULL OR d.refused = paramporter.no_reason_refusal())
                   AND d.id <= subject_entry.id
                 ORDER BY d.id DESC LIMIT 1)
            LOOP
                author := NULL;
                SELECT a.login INTO author FROM paramporter.person_account a
                    WHERE a.account = made."user";
                IF author IS NULL THEN
                    refusal := format('the values were downloaded by the account %s (server '
                                      'entry %s), which is none of the plant''s people; the '
                                      'plant requires another person to approve them',
                                      paramporter.as_text(made."user"), made.id);
                    RETURN;
                ELSIF author = session_user THEN
                    refusal := format('These values were downloaded by %s (server entry %s); '
                                      'the plant requires another person to approve them.',
                                      p.printed_name, made.id);
                    RETURN;
                END IF;
            END LOOP;
        END IF;
    END IF;
    INSERT INTO paramporter.signature (login, printed_name, signed, action, meaning, serial,
                                       scope, part, subject_hash, file_hash, reason, source)
        VALUES (session_user, p.printed_name, date_trunc('milliseconds', clock_timestamp()),
                p_action, p_meaning, p_serial, p_scope, nullif(p_part, ''), p_subject_hash,
                p_file_hash, p_reason, p_source)
        RETURNING * INTO g;
    given := paramporter.signature_text(g);
    UPDATE paramporter.signature SET signed_text = given WHERE id = g.id;
END
$$;

DROP FUNCTION paramporter.add_entry(uuid, bigint, uuid, bytea, integer, text, bytea, bytea, bytea,
                                    text, text, text, bytea, bytea, bytea, integer, bytea, text,
                                    text, text, bytea, text, bigint, text, bytea);

-- An entry forwarded by a PC, as in version 4, and an approval or revocation only with the
-- signature the server recorded for it.
CREATE FUNCTION paramporter.add_entry(
    p_source uuid, p_local_id bigint, p_parent uuid, p_source_host bytea, p_format integer,
    p_time text, p_user bytea, p_host bytea, p_port bytea, p_action text, p_scope text,
    p_part text, p_serial bytea, p_generation bytea, p_result bytea,
    p_stopped_at_field integer, p_file bytea, p_file_hash text, p_previous_hash text,
    p_hash text, p_reason bytea DEFAULT NULL, p_meaning text DEFAULT NULL,
    p_subject bigint DEFAULT NULL, p_subject_hash text DEFAULT NULL,
    p_findings bytea DEFAULT NULL, p_signature bytea DEFAULT NULL, OUT outcome text,
    OUT detail text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    s paramporter.source;
    e paramporter.entry;
    held paramporter.entry;
    parent_entry paramporter.entry;
    parent_source paramporter.source;
    subject_entry paramporter.entry;
    subject_found boolean;
    g paramporter.signature;
    marked boolean;
    why text;
BEGIN
    outcome := 'refused';
    IF p_source IS NULL OR p_local_id IS NULL OR p_local_id < 1 OR p_hash IS NULL
       OR p_hash !~ '^[0-9a-f]{64}$' OR p_format IS NULL OR p_format < 1 OR p_action IS NULL
       OR p_action NOT IN ('upload', 'download', 'approve', 'revoke') OR p_scope IS NULL
       OR p_scope NOT IN ('system', 'part') OR p_time IS NULL OR p_user IS NULL
       OR p_host IS NULL OR p_port IS NULL OR p_result IS NULL OR p_source_host IS NULL THEN
        detail := 'it is not a history entry';
        RETURN;
    END IF;
    IF NOT EXISTS (SELECT FROM paramporter.pc
                   WHERE host = p_source_host AND login = session_user) THEN
        detail := format('the PC %s is not registered to the login %s',
                         paramporter.as_text(p_source_host), session_user);
        RETURN;
    END IF;

    -- One PC's entries are added one after another, its first ones too: the lock is held until
    -- the commit, and what the other forward added is seen once it is taken.
    PERFORM pg_advisory_xact_lock(hashtextextended('paramporter source ' || p_source, 0));
    SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    IF s.source IS NOT NULL THEN
        IF s.login IS NULL THEN
            detail := 'the server''s entries of this PC are from before PCs were registered; '
                      'plant IT binds them to their PC (paramporter.bind_source)';
            RETURN;
        ELSIF s.login <> session_user THEN
            detail := format('this PC''s entries come from the login %s, not %s', s.login,
                             session_user);
            RETURN;
        ELSIF s.host IS DISTINCT FROM p_source_host THEN
            detail := format('this PC''s entries come from the PC %s, not %s',
                             paramporter.as_text(s.host), paramporter.as_text(p_source_host));
            RETURN;
        END IF;
    END IF;
    SELECT * INTO held FROM paramporter.entry WHERE source = p_source AND local_id = p_local_id;
    IF FOUND THEN
        IF held.hash = p_hash THEN
            outcome := 'held';
        ELSE
            outcome := 'conflict';
            detail := format('the server holds another entry %s of this PC (server entry %s)',
                             p_local_id, held.id);
        END IF;
        RETURN;
    END IF;

    IF s.source IS NULL THEN
        -- A PC new to the server: its first entry, or the first of a history copied from one
        -- whose entries the server holds, taken from the same login and host alone.
        IF p_local_id > 1 THEN
            SELECT * INTO parent_entry FROM paramporter.entry
                WHERE source = p_parent AND local_id = p_local_id - 1;
            IF NOT FOUND THEN
                detail := format('the server holds no entry %s before it', p_local_id - 1);
                RETURN;
            END IF;
            SELECT * INTO parent_source FROM paramporter.source WHERE source = p_parent;
            IF parent_source.login IS DISTINCT FROM session_user
               OR parent_source.host IS DISTINCT FROM p_source_host THEN
                detail := format('the history it goes on from is bound to %s, not to the login '
                                 '%s on %s',
                                 CASE WHEN parent_source.login IS NULL THEN 'no PC'
                                      ELSE format('the login %s on %s', parent_source.login,
                                                  paramporter.as_text(parent_source.host)) END,
                                 session_user, paramporter.as_text(p_source_host));
                RETURN;
            END IF;
            IF parent_entry.hash IS DISTINCT FROM p_previous_hash THEN
                outcome := 'conflict';
                detail := format('it does not follow the server''s entry %s (server entry %s)',
                                 p_local_id - 1, parent_entry.id);
                RETURN;
            END IF;
        ELSIF p_previous_hash IS NOT NULL THEN
            outcome := 'conflict';
            detail := 'it is the first entry of this PC but names one before it';
            RETURN;
        END IF;
        INSERT INTO paramporter.source (source, login, bound, parent, parent_local_id,
                                        head_local_id, head_hash, head_order, host, bound_by)
            VALUES (p_source, session_user, now(), parent_entry.source, parent_entry.local_id,
                    p_local_id - 1, parent_entry.hash, parent_entry.order_time, p_source_host,
                    session_user);
        SELECT * INTO s FROM paramporter.source WHERE source = p_source FOR UPDATE;
    END IF;

    IF p_local_id > s.head_local_id + 1 THEN
        detail := format('the server holds the entries of this PC up to %s only',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_local_id <= s.head_local_id THEN
        outcome := 'conflict';
        detail := format('the server lacks it but holds this PC''s entries up to %s',
                         s.head_local_id);
        RETURN;
    END IF;
    IF p_previous_hash IS DISTINCT FROM s.head_hash THEN
        outcome := 'conflict';
        detail := format('it does not follow the server''s entry %s', s.head_local_id);
        RETURN;
    END IF;

    -- The next link of the PC's chain: kept, taken or refused.
    e.source := p_source;
    e.local_id := p_local_id;
    e.source_host := p_source_host;
    e.time := p_time;
    e."user" := p_user;
    e.host := p_host;
    e.port := p_port;
    e.action := p_action;
    e.scope := p_scope;
    e.part := p_part;
    e.serial := p_serial;
    e.generation := p_generation;
    e.result := p_result;
    e.stopped_at_field := p_stopped_at_field;
    e.file := p_file;
    e.file_hash := p_file_hash;
    e.previous_hash := p_previous_hash;
    e.hash := p_hash;
    e.format := p_format;
    e.reason := p_reason;
    e.meaning := p_meaning;
    e.subject := p_subject;
    e.subject_hash := p_subject_hash;
    e.findings := p_findings;
    e.signature := p_signature;

    marked := p_reason IS NOT NULL OR p_meaning IS NOT NULL OR p_subject IS NOT NULL
              OR p_subject_hash IS NOT NULL OR p_findings IS NOT NULL;
    IF paramporter.entry_hash(e) IS NULL THEN
        why := format('its format %s is not one the server knows', p_format);
    ELSIF paramporter.entry_hash(e) <> p_hash THEN
        why := 'its hash is not that of its content';
    ELSIF (p_file IS NULL) <> (p_file_hash IS NULL)
          OR encode(sha256(p_file), 'hex') IS DISTINCT FROM p_file_hash THEN
        why := 'its parameter file does not match its hash';
    ELSIF p_format < 3 AND (marked OR p_action IN ('approve', 'revoke')) THEN
        why := 'its format holds no approval, reason or findings';
    ELSIF p_signature IS NOT NULL AND (p_format < 4 OR p_action IN ('upload', 'download')) THEN
        why := 'only an approval or a revocation holds a signature';
    ELSIF p_action IN ('upload', 'download') THEN
        IF p_meaning IS NOT NULL OR p_subject IS NOT NULL OR p_subject_hash IS NOT NULL THEN
            why := 'only an approval has a meaning and a subject';
        ELSIF p_action = 'download' AND p_format >= 3 AND NOT paramporter.has_reason(p_reason)
              AND EXISTS (SELECT FROM paramporter.plant_setting
                          WHERE key = 'reason_required'
                            AND lower(btrim(value, E' \t\r\n')) IN ('true', 'yes', 'on', '1'))
              THEN
            why := paramporter.no_reason_refusal();
        END IF;
    ELSIF p_serial IS NULL OR NOT paramporter.has_reason(p_reason)
          OR p_findings IS NOT NULL OR p_result <> 'SUCCESS'::bytea THEN
        why := format('it is not an %s the server can take (instrument, reason, result)',
                      CASE p_action WHEN 'approve' THEN 'approval' ELSE 'revocation' END);
    ELSIF p_action = 'revoke' AND (p_file IS NOT NULL OR p_meaning IS NOT NULL
                                   OR p_subject IS NOT NULL OR p_subject_hash IS NOT NULL) THEN
        why := 'a revocation holds no parameters and no subject';
    ELSIF p_action = 'approve' AND (p_file IS NULL OR p_meaning IS NULL
                                    OR p_meaning NOT IN ('approved', 'reviewed')
                                    OR p_subject IS NULL OR p_subject_hash IS NULL
                                    OR p_subject_hash !~ '^[0-9a-f]{64}$') THEN
        why := 'it is not an approval the server can take (parameters, meaning, subject)';
    END IF;

    IF why IS NULL AND p_action = 'approve' THEN
        -- The entry approved, from whichever registered PC: its hash names it.
        SELECT * INTO subject_entry FROM paramporter.entry x
            WHERE x.serial = p_serial AND x.scope = p_scope
              AND coalesce(x.part, '') = coalesce(p_part, '') AND x.hash = p_subject_hash
              AND x.action IN ('upload', 'download') AND x.refused IS NULL
              AND EXISTS (SELECT FROM paramporter.source xs JOIN paramporter.pc xp
                              ON xp.host = xs.host AND xp.login = xs.login
                          WHERE xs.source = x.source)
            LIMIT 1;
        subject_found := FOUND;
        IF subject_found THEN
            IF subject_entry.result <> 'SUCCESS'::bytea OR subject_entry.file_hash IS NULL THEN
                why := format('it approves server entry %s, which is no successful transfer',
                              subject_entry.id);
            ELSIF subject_entry.file_hash <> p_file_hash THEN
                why := format('its parameters are not those of server entry %s it approves',
                              subject_entry.id);
            END IF;
        END IF;
    END IF;

    -- Counted only as its signer signed it: the server's record of the signing, used once. Who
    -- signed, and whether they may, was settled there (paramporter.sign).
    IF why IS NULL AND p_action IN ('approve', 'revoke') THEN
        IF p_signature IS NULL THEN
            why := 'it is not signed: an approval or revocation counts for the plant only when '
                   'a person signs it with their own plant login';
        ELSE
            SELECT * INTO g FROM paramporter.signature x WHERE x.signed_text = p_signature
                FOR UPDATE;
            IF NOT FOUND THEN
                why := 'its signature is not one the server recorded';
            ELSIF g.entry IS NOT NULL THEN
                why := format('its signature was given to server entry %s', g.entry);
            ELSIF g.source <> p_source THEN
                why := 'its signature was made for another PC''s history';
            ELSIF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = g.login) THEN
                why := format('its signer %s is no longer an approver', g.login);
            ELSIF NOT pg_has_role(g.login, 'paramporter_approver', 'MEMBER') THEN
                why := format('its signer %s is no longer an approver', g.login);
            ELSIF g.action <> p_action OR g.serial <> p_serial OR g.scope <> p_scope
                  OR coalesce(g.part, '') <> coalesce(p_part, '')
                  OR g.meaning IS DISTINCT FROM p_meaning
                  OR g.subject_hash IS DISTINCT FROM p_subject_hash
                  OR g.file_hash IS DISTINCT FROM p_file_hash OR g.reason <> p_reason THEN
                why := 'it is not what its signer signed';
            END IF;
        END IF;
    END IF;

    INSERT INTO paramporter.entry (source, local_id, source_host, time, "user", host, port,
                                   action, scope, part, serial, generation, result,
                                   stopped_at_field, file, file_hash, previous_hash, hash,
                                   format, login, order_time, reason, meaning, subject,
                                   subject_hash, findings, refused, signature)
        VALUES (p_source, p_local_id, p_source_host, p_time, p_user, p_host, p_port,
                p_action, p_scope, p_part, p_serial, p_generation, p_result,
                p_stopped_at_field, p_file, p_file_hash, p_previous_hash, p_hash, p_format,
                session_user, paramporter.ordering_time(p_time, now(), s.head_order), p_reason,
                p_meaning, p_subject, p_subject_hash, p_findings, why, p_signature)
        RETURNING * INTO e;
    e.seal := paramporter.seal(e, s.head_seal);
    UPDATE paramporter.entry SET seal = e.seal WHERE id = e.id;
    UPDATE paramporter.source SET head_local_id = p_local_id, head_hash = p_hash,
                                  head_seal = e.seal, head_order = e.order_time
        WHERE source = p_source;
    IF why IS NULL THEN
        IF g.id IS NOT NULL THEN
            UPDATE paramporter.signature SET entry = e.id WHERE id = g.id;
        END IF;
        outcome := 'added';
    ELSE
        outcome := 'kept-refused';
        detail := why;
    END IF;
END
$$;

REVOKE ALL ON FUNCTION paramporter.add_entry FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.add_entry TO paramporter_writer;
REVOKE ALL ON FUNCTION paramporter.sign, paramporter.register_person,
    paramporter.signature_text FROM PUBLIC;
GRANT EXECUTE ON FUNCTION paramporter.signature_number
    TO paramporter_writer, paramporter_reader, paramporter_admin, paramporter_approver;
GRANT EXECUTE ON FUNCTION paramporter.sign TO paramporter_approver;
GRANT EXECUTE ON FUNCTION paramporter.register_person TO paramporter_admin;
GRANT USAGE ON SCHEMA paramporter TO paramporter_approver;
GRANT SELECT ON paramporter.schema_version TO paramporter_approver;
-- The PCs' logins read none of it, and no one the signature's text: a signature not yet carried
-- by its entry is the signer's.
GRANT SELECT ON paramporter.person, paramporter.person_account
    TO paramporter_reader, paramporter_admin, paramporter_approver;
GRANT SELECT (id, login, printed_name, signed, action, meaning, serial, scope, part,
              subject_hash, file_hash, reason, source, entry) ON paramporter.signature
    TO paramporter_reader, paramporter_admin, paramporter_approver;

UPDATE paramporter.schema_version SET version = 5;
COMMIT;
\endif
