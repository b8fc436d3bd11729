-- =============================================================================
-- finance.usp_reconcile_payments
--
-- Matches settled payment-provider transactions against open invoices for one
-- settlement date. Each provider lands its settlement file in its own staging
-- table (staging.settlement_<provider_code>), so the staging table name is only
-- known at run time. Unmatched transactions are written to the exceptions table
-- for the finance team to review.
-- =============================================================================
CREATE OR ALTER PROCEDURE finance.usp_reconcile_payments
    @settlement_date  DATE,
    @provider_code    VARCHAR(20)  = NULL,   -- NULL = every active provider
    @tolerance        DECIMAL(9,2) = 0.01,
    @dry_run          BIT          = 0
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @run_id          BIGINT;
    DECLARE @provider        VARCHAR(20);
    DECLARE @staging_table   SYSNAME;
    DECLARE @sql             NVARCHAR(MAX);
    DECLARE @matched         INT = 0;
    DECLARE @unmatched       INT = 0;
    DECLARE @provider_rows   INT;

    INSERT INTO finance.reconciliation_run (settlement_date, provider_filter, started_at, status)
    VALUES (@settlement_date, @provider_code, SYSUTCDATETIME(), 'RUNNING');
    SET @run_id = SCOPE_IDENTITY();

    CREATE TABLE #settled (
        provider_code    VARCHAR(20)    NOT NULL,
        provider_txn_id  VARCHAR(64)    NOT NULL,
        invoice_ref      VARCHAR(40)    NULL,
        currency_code    CHAR(3)        NOT NULL,
        settled_amount   DECIMAL(18, 2) NOT NULL,
        fee_amount       DECIMAL(18, 2) NOT NULL,
        settled_at       DATETIME2(3)   NOT NULL
    );

    DECLARE provider_cursor CURSOR LOCAL FAST_FORWARD FOR
        SELECT p.provider_code, p.staging_table
        FROM finance.payment_provider AS p
        WHERE p.is_active = 1
          AND (@provider_code IS NULL OR p.provider_code = @provider_code)
        ORDER BY p.provider_code;

    BEGIN TRY
        OPEN provider_cursor;
        FETCH NEXT FROM provider_cursor INTO @provider, @staging_table;

        WHILE @@FETCH_STATUS = 0
        BEGIN
            -- The staging table name comes from configuration, never from a caller: still quote it.
            SET @sql = N'
                INSERT INTO #settled
                    (provider_code, provider_txn_id, invoice_ref, currency_code,
                     settled_amount, fee_amount, settled_at)
                SELECT
                    @provider,
                    s.txn_id,
                    NULLIF(LTRIM(RTRIM(s.merchant_reference)), ''''),
                    UPPER(s.currency),
                    TRY_CAST(s.gross_amount AS DECIMAL(18, 2)),
                    ISNULL(TRY_CAST(s.fee AS DECIMAL(18, 2)), 0),
                    s.settled_at
                FROM staging.' + QUOTENAME(@staging_table) + N' AS s
                WHERE CAST(s.settled_at AS DATE) = @settlement_date
                  AND s.txn_status = ''SETTLED'';';

            EXEC sp_executesql
                @sql,
                N'@provider VARCHAR(20), @settlement_date DATE',
                @provider = @provider,
                @settlement_date = @settlement_date;

            SET @provider_rows = @@ROWCOUNT;

            INSERT INTO finance.reconciliation_log (run_id, provider_code, rows_loaded, logged_at)
            VALUES (@run_id, @provider, @provider_rows, SYSUTCDATETIME());

            FETCH NEXT FROM provider_cursor INTO @provider, @staging_table;
        END;

        CLOSE provider_cursor;
        DEALLOCATE provider_cursor;

        -- Match on invoice reference first, then on amount and customer for references that
        -- providers truncate.
        ;WITH candidates AS (
            SELECT
                s.provider_code,
                s.provider_txn_id,
                i.invoice_id,
                ROW_NUMBER() OVER (
                    PARTITION BY s.provider_code, s.provider_txn_id
                    ORDER BY CASE WHEN i.invoice_number = s.invoice_ref THEN 0 ELSE 1 END,
                             ABS(i.open_amount - s.settled_amount)
                ) AS match_rank
            FROM #settled AS s
            INNER JOIN finance.invoice AS i
                ON  i.currency_code = s.currency_code
                AND i.status = 'OPEN'
                AND ABS(i.open_amount - s.settled_amount) <= @tolerance
                AND (   i.invoice_number = s.invoice_ref
                     OR i.invoice_number LIKE s.invoice_ref + '%')
        )
        SELECT provider_code, provider_txn_id, invoice_id
        INTO #matches
        FROM candidates
        WHERE match_rank = 1;

        SET @matched = @@ROWCOUNT;

        SELECT @unmatched = COUNT(*)
        FROM #settled AS s
        WHERE NOT EXISTS (
            SELECT 1 FROM #matches AS m
            WHERE m.provider_code = s.provider_code
              AND m.provider_txn_id = s.provider_txn_id
        );

        IF @dry_run = 1
        BEGIN
            SELECT @run_id AS run_id, @matched AS would_match, @unmatched AS would_not_match;
            UPDATE finance.reconciliation_run
            SET status = 'DRY_RUN', finished_at = SYSUTCDATETIME()
            WHERE run_id = @run_id;
            RETURN 0;
        END;

        BEGIN TRANSACTION;

        UPDATE i
        SET i.status       = 'PAID',
            i.paid_at      = s.settled_at,
            i.paid_amount  = s.settled_amount,
            i.fee_amount   = s.fee_amount,
            i.payment_ref  = s.provider_code + ':' + s.provider_txn_id
        FROM finance.invoice AS i
        INNER JOIN #matches AS m
            ON m.invoice_id = i.invoice_id
        INNER JOIN #settled AS s
            ON  s.provider_code = m.provider_code
            AND s.provider_txn_id = m.provider_txn_id;

        INSERT INTO finance.reconciliation_exception
            (run_id, provider_code, provider_txn_id, invoice_ref, settled_amount, reason)
        SELECT
            @run_id,
            s.provider_code,
            s.provider_txn_id,
            s.invoice_ref,
            s.settled_amount,
            CASE
                WHEN s.invoice_ref IS NULL THEN 'NO_REFERENCE'
                WHEN s.settled_amount IS NULL THEN 'UNPARSEABLE_AMOUNT'
                ELSE 'NO_MATCHING_INVOICE'
            END
        FROM #settled AS s
        LEFT JOIN #matches AS m
            ON  m.provider_code = s.provider_code
            AND m.provider_txn_id = s.provider_txn_id
        WHERE m.invoice_id IS NULL;

        UPDATE finance.reconciliation_run
        SET status      = 'COMPLETE',
            matched     = @matched,
            unmatched   = @unmatched,
            finished_at = SYSUTCDATETIME()
        WHERE run_id = @run_id;

        COMMIT TRANSACTION;

        -- Providers that asked for a callback get one; the procedure name is per provider.
        IF @provider_code IS NOT NULL
        BEGIN
            SET @sql = N'EXEC finance.' + QUOTENAME('usp_notify_' + LOWER(@provider_code))
                     + N' @run_id = ' + CONVERT(NVARCHAR(20), @run_id) + N';';
            IF OBJECT_ID(N'finance.usp_notify_' + LOWER(@provider_code), N'P') IS NOT NULL
                EXEC (@sql);
        END;
    END TRY
    BEGIN CATCH
        IF XACT_STATE() <> 0
            ROLLBACK TRANSACTION;

        IF CURSOR_STATUS('local', 'provider_cursor') >= 0
        BEGIN
            CLOSE provider_cursor;
            DEALLOCATE provider_cursor;
        END;

        UPDATE finance.reconciliation_run
        SET status        = 'FAILED',
            error_number  = ERROR_NUMBER(),
            error_message = LEFT(ERROR_MESSAGE(), 4000),
            finished_at   = SYSUTCDATETIME()
        WHERE run_id = @run_id;

        THROW;
    END CATCH;

    SELECT @run_id AS run_id, @matched AS matched, @unmatched AS unmatched;
    RETURN 0;
END;
GO
