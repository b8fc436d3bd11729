-- Upserts supplier price lists received as JSON from the supplier portal.
--
-- The portal posts one document per supplier:
--   { "supplier": "ACME", "valid_from": "2024-07-01",
--     "prices": [ { "sku": "AC-1001", "currency": "EUR", "unit_cost": 12.40, "min_qty": 10 }, ... ] }
-- Prices missing from a new list are end-dated, not deleted.

CREATE OR ALTER PROCEDURE purchasing.usp_upsert_supplier_prices
    @payload  NVARCHAR(MAX)
AS
BEGIN
    SET NOCOUNT ON;

    IF ISJSON(@payload) = 0
        THROW 50010, N'Price list payload is not valid JSON.', 1;

    DECLARE @supplier_code  VARCHAR(20) = JSON_VALUE(@payload, '$.supplier');
    DECLARE @valid_from     DATE        = TRY_CONVERT(DATE, JSON_VALUE(@payload, '$.valid_from'));
    DECLARE @supplier_id    INT;

    SELECT @supplier_id = s.supplier_id
    FROM purchasing.supplier AS s
    WHERE s.supplier_code = @supplier_code;

    IF @supplier_id IS NULL OR @valid_from IS NULL
        THROW 50011, N'Unknown supplier or missing valid_from date.', 1;

    DECLARE @changes TABLE (
        change_type  NVARCHAR(10),
        sku          VARCHAR(30),
        old_cost     DECIMAL(12, 4),
        new_cost     DECIMAL(12, 4)
    );

    WITH incoming AS (
        SELECT
            UPPER(LTRIM(RTRIM(p.sku)))  AS sku,
            UPPER(p.currency)           AS currency_code,
            p.unit_cost,
            COALESCE(p.min_qty, 1)      AS min_order_qty
        FROM OPENJSON(@payload, '$.prices')
        WITH (
            sku        VARCHAR(30)    '$.sku',
            currency   CHAR(3)        '$.currency',
            unit_cost  DECIMAL(12, 4) '$.unit_cost',
            min_qty    INT            '$.min_qty'
        ) AS p
        WHERE p.sku IS NOT NULL
          AND p.unit_cost > 0
    )
    MERGE purchasing.supplier_price AS tgt
    USING incoming AS src
        ON  tgt.supplier_id = @supplier_id
        AND tgt.sku = src.sku
        AND tgt.valid_to IS NULL
    WHEN MATCHED AND (tgt.unit_cost <> src.unit_cost
                      OR tgt.currency_code <> src.currency_code
                      OR tgt.min_order_qty <> src.min_order_qty) THEN
        UPDATE SET
            tgt.unit_cost     = src.unit_cost,
            tgt.currency_code = src.currency_code,
            tgt.min_order_qty = src.min_order_qty,
            tgt.valid_from    = @valid_from,
            tgt.updated_at    = SYSUTCDATETIME()
    WHEN NOT MATCHED BY TARGET THEN
        INSERT (supplier_id, sku, currency_code, unit_cost, min_order_qty, valid_from, valid_to, updated_at)
        VALUES (@supplier_id, src.sku, src.currency_code, src.unit_cost, src.min_order_qty,
                @valid_from, NULL, SYSUTCDATETIME())
    WHEN NOT MATCHED BY SOURCE AND tgt.supplier_id = @supplier_id AND tgt.valid_to IS NULL THEN
        UPDATE SET
            tgt.valid_to   = DATEADD(DAY, -1, @valid_from),
            tgt.updated_at = SYSUTCDATETIME()
    OUTPUT
        $action,
        COALESCE(inserted.sku, deleted.sku),
        deleted.unit_cost,
        inserted.unit_cost
    INTO @changes (change_type, sku, old_cost, new_cost);

    SELECT
        change_type,
        COUNT(*) AS items,
        AVG(CASE WHEN old_cost > 0 THEN (new_cost - old_cost) / old_cost * 100 END) AS avg_change_pct
    FROM @changes
    GROUP BY change_type
    ORDER BY change_type;
END;
GO
